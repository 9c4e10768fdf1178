<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES">
<context>
    <name>CorvanePopup</name>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Continuar</translation>
    </message>
</context>
<context>
    <name>LoginWidget</name>
    <message>
        <source>We seem to be unable to connect you to Corvane. Please check your Internet connection.</source>
        <translation>Parece que no podemos conectarte a Corvane. Por favor, revisa tu conexión a Internet.</translation>
    </message>
    <message>
        <source>The authentication code entered is not correct.</source>
        <translation>El código de autenticación es inválido.</translation>
    </message>
    <message>
        <source>Tembra Login</source>
        <translation>Acceso Tembra</translation>
    </message>
    <message>
        <source>Email</source>
        <translation>Correo electrónico</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Contraseña</translation>
    </message>
    <message>
        <source>Wrong credentials</source>
        <translation>Credenciales incorrectas</translation>
    </message>
    <message>
        <source>Login</source>
        <translation>Iniciar Sesión</translation>
    </message>
    <message>
        <source>Register in Corvane</source>
        <translation>Regístrate en Corvane</translation>
    </message>
    <message>
        <source>Privacy.</source>
        <translation>Privado.</translation>
    </message>
    <message>
        <source>We cipher your messages directly on your computer so that no one can read them except your recipient.</source>
        <translation>Ciframos tus mensajes directamente en tu ordenador para que nadie salvo tu destinatario pueda leerlos.</translation>
    </message>
    <message>
        <source>Encryption.</source>
        <translation>Seguro.</translation>
    </message>
    <message>
        <source>Your files are encrypted before they are sent and decrypted only when they are received.</source>
        <translation>Tus ficheros son encriptados antes de ser enviados y se desencriptan solo cuando son recibidos.</translation>
    </message>
    <message>
        <source>Work faster.</source>
        <translation>Rápido.</translation>
    </message>
    <message>
        <source>Our application is designed to be easy to use. Keep your data organised: contacts, inboxes... There's always a place for every message.</source>
        <translation>Tembra está diseñado para ser sencillo de usar. Organízate: contactos, buzones... Siempre hay un lugar para cada mensaje.</translation>
    </message>
    <message>
        <source>Loading...</source>
        <translation>Cargando...</translation>
    </message>
    <message>
        <source>Validating user...</source>
        <translation>Validando usuario...</translation>
    </message>
    <message>
        <source>We are making the first run...</source>
        <translation>Haciendo la configuración inicial...</translation>
    </message>
    <message>
        <source>Fetching a lot of data...</source>
        <translation>Cargando datos de usuario...</translation>
    </message>
    <message>
        <source>Almost done...</source>
        <translation>Casi estamos listos...</translation>
    </message>
    <message>
        <source>Two-Factor Authentication</source>
        <translation>Autenticación de Doble Factor</translation>
    </message>
    <message>
        <source>Check your TOTP Generator application and enter a new six-digit code.</source>
        <translation>Comprueba tu Generador TOTP y escribe un nuevo código de seis dígitos.</translation>
    </message>
    <message>
        <source>Account Blocked</source>
        <translation>Cuenta Bloqueada</translation>
    </message>
    <message>
        <source>If you want to continue using our services, please complete your invoicing settings in our website.</source>
        <translation>Si deseas continuar usando nuestros servicios, por favor configura tu método de pago en nuestra web.</translation>
    </message>
    <message>
        <source>Activate</source>
        <translation>Activar</translation>
    </message>
</context>
<context>
    <name>LoginWindow</name>
    <message>
        <source>Login to Corvane</source>
        <translation>Acceso a Corvane</translation>
    </message>
</context>
<context>
    <name>MainWidget</name>
    <message>
        <source>File </source>
        <translation>Fichero </translation>
    </message>
    <message>
        <source> of </source>
        <translation> de </translation>
    </message>
    <message>
        <source>Received</source>
        <translation>Recibidos</translation>
    </message>
    <message>
        <source>Sent</source>
        <translation>Enviados</translation>
    </message>
    <message>
        <source>My Inboxes</source>
        <translation>Buzones</translation>
    </message>
    <message>
        <source>Contacts</source>
        <translation>Contactos</translation>
    </message>
    <message>
        <source>Logout</source>
        <translation>Salir</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Ajustes</translation>
    </message>
    <message>
        <source>Are you sure you want to log out?</source>
        <translation>¿Seguro que deseas Cerrar la Sesión?</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Continuar</translation>
    </message>
    <message>
        <source>Update Tembra</source>
        <translation>Actualizar Tembra</translation>
    </message>
    <message>
        <source>Tembra has been updated.
Please restart the app when possible to enjoy the new version.</source>
        <translation>Tembra se ha actualizado.
Por favor, reinicia la app para disfrutar de la nueva versión.</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Actualizar</translation>
    </message>
    <message>
        <source>Upgrade your plan</source>
        <translation>Mejorar mi plan</translation>
    </message>
    <message>
        <source>You have used up all the storage in your plan. &lt;b&gt;The messages you send cannot be saved in your 'Sent' panel.&lt;/b&gt; Please consider upgrading to our business plans or contact </source>
        <translation>Has usado todo el almacenamiento de tu plan. &lt;b&gt;Los mensajes no se guardarán en la bandeja de salida.&lt;/b&gt; Por favor, considera mejorar tu plan o contacta con </translation>
    </message>
    <message>
        <source> to customize a plan for you.</source>
        <translation> para que personalicemos un plan a tu medida.</translation>
    </message>
    <message>
        <source>Send anyway</source>
        <translation>Enviar</translation>
    </message>
    <message>
        <source>You have used up all the storage in your plan. &lt;b&gt;It means you cannot continue sending external emails.&lt;/b&gt; Please consider upgrading to our business plans or contact </source>
        <translation>Has usado todo el almacenamiento de tu plan. &lt;b&gt;No podrás continuar enviando correos externos.&lt;/b&gt; Por favor, considera mejorar tu plan o contacta con </translation>
    </message>
    <message>
        <source>Contact</source>
        <translation>Contactar</translation>
    </message>
    <message>
        <source>UPGRADE PLAN</source>
        <translation>MEJORAR PLAN</translation>
    </message>
    <message>
        <source>An error has occurred. Please check that your data is correct.</source>
        <translation>Ha ocurrido un error. Por favor, comprueba que los datos introducidos son correctos.</translation>
    </message>
    <message>
        <source>An inbox with the same name already exists.</source>
        <translation>Ya existe un buzón con el mismo nombre.</translation>
    </message>
    <message>
        <source>We seem to be unable to connect you to Corvane. Please check your Internet connection.</source>
        <translation>Parece que no podemos conectarte a Corvane. Por favor, comprueba tu conexión a Internet.</translation>
    </message>
    <message>
        <source>There's already a contact associated with this inbox address.</source>
        <translation>Ya existe un contacto asociado a ese buzón.</translation>
    </message>
    <message>
        <source>The authentication code entered is not correct.</source>
        <translation>El código de autenticación es inválido.</translation>
    </message>
    <message>
        <source>Oops, it is not allowed to send folders...</source>
        <translation>Ups, no está permitido subir capetas...</translation>
    </message>
    <message>
        <source>Oops, it looks like your contact has no space in their inbox. The message could not be sent...</source>
        <translation>Ups, parece que tu contacto no tiene espacio en su bandeja de entrada. El mensaje no se enviará...</translation>
    </message>
    <message>
        <source>You are not allowed to make changes on this account (read only access)</source>
        <translation>No tienes permiso para realizar cambios en esta cuenta (sólo lectura)</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Tembra | The Business Mail</source>
        <translation>Tembra | Correo seguro para profesionales y empresas</translation>
    </message>
    <message>
        <source>Today</source>
        <translation type="unfinished" />
    </message>
    <message>
        <source> days ago</source>
        <translation type="unfinished" />
    </message>
    <message>
        <source> months ago</source>
        <translation type="unfinished" />
    </message>
    <message>
        <source> years ago</source>
        <translation type="unfinished" />
    </message>
</context>
<context>
    <name>ThirdParty</name>
    <message>
        <source>&lt;b&gt;&lt;h2&gt;Third-party libraries used by this application:&lt;/h2&gt;&lt;/b&gt;&lt;br&gt;&lt;br&gt;&lt;b&gt;QT&lt;/b&gt;&lt;br&gt;&lt;a href='https://www.qt.io'&gt;https://www.qt.io&lt;/a&gt;&lt;br&gt;Copyright (c) The Qt Company Ltd and other contributors&lt;br&gt;License: LGPL version 3&lt;br&gt;&lt;a href='https://www.gnu.org/licenses/lgpl-3.0.html'&gt;https://www.gnu.org/licenses/lgpl-3.0.html&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;Flatbuffers&lt;/b&gt;&lt;br&gt;&lt;a href='https://google.github.io/flatbuffers'&gt;https://google.github.io/flatbuffers&lt;/a&gt;&lt;br&gt;Copyright (c) Google Inc.&lt;br&gt;License: Apache version 2&lt;br&gt;&lt;a href='https://www.apache.org/licenses/LICENSE-2.0'&gt;https://www.apache.org/licenses/LICENSE-2.0&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;cURL&lt;/b&gt;&lt;br&gt;&lt;a href='https://curl.se'&gt;https://curl.se&lt;/a&gt;&lt;br&gt;Copyright (c) Daniel Stenberg and many contributors&lt;br&gt;License: The cURL license&lt;br&gt;&lt;a href='https://curl.se/docs/copyright.html'&gt;https://curl.se/docs/copyright.html&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;OpenSSL&lt;/b&gt;&lt;br&gt;&lt;a href='https://www.openssl.org'&gt;https://www.openssl.org&lt;/a&gt;&lt;br&gt;Copyright (c) The OpenSSL Project Authors&lt;br&gt;License: Apache version 2&lt;br&gt;&lt;a href='https://www.openssl.org/source/license.html'&gt;https://www.openssl.org/source/license.html&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;libUV&lt;/b&gt;&lt;br&gt;&lt;a href='https://libuv.org'&gt;https://libuv.org&lt;/a&gt;&lt;br&gt;Copyright (c) libuv project contributors&lt;br&gt;License: libUV license&lt;br&gt;&lt;a href='https://github.com/libuv/libuv/blob/v1.x/LICENSE'&gt;https://github.com/libuv/libuv/blob/v1.x/LICENSE&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;Crypto++&lt;/b&gt;&lt;br&gt;&lt;a href='https://www.cryptopp.com'&gt;https://www.cryptopp.com&lt;/a&gt;&lt;br&gt;Copyright (c) Wei Dai and other contributors&lt;br&gt;License: Crypto++ license&lt;br&gt;&lt;a href='https://www.cryptopp.com/License.txt'&gt;https://www.cryptopp.com/License.txt&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;SQLite&lt;/b&gt;&lt;br&gt;&lt;a href='https://www.sqlite.org'&gt;https://www.sqlite.org&lt;/a&gt;&lt;br&gt;License: Public Domain&lt;br&gt;&lt;a href='https://www.sqlite.org/copyright.html'&gt;https://www.sqlite.org/copyright.html&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;librsync&lt;/b&gt;&lt;br&gt;&lt;a href='https://librsync.github.io'&gt;https://librsync.github.io&lt;/a&gt;&lt;br&gt;Copyright (c) Martin Pool, Andrew Tridgell, Donovan Baarda and other contributors&lt;br&gt;License: LGPL 2.1&lt;br&gt;&lt;a href='https://www.gnu.org/licenses/old-licenses/lgpl-2.1.html'&gt;https://www.gnu.org/licenses/old-licenses/lgpl-2.1.html&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;ccronexpr&lt;/b&gt;&lt;br&gt;&lt;a href='https://github.com/staticlibs/ccronexpr'&gt;https://github.com/staticlibs/ccronexpr&lt;/a&gt;&lt;br&gt;Copyright (c) alex at staticlibs.net&lt;br&gt;License: Apache version 2&lt;br&gt;&lt;a href='https://www.apache.org/licenses/LICENSE-2.0'&gt;https://www.apache.org/licenses/LICENSE-2.0&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;tovo--zip&lt;/b&gt;&lt;br&gt;&lt;a href='https://unlicense.org'&gt;https://unlicense.org&lt;/a&gt;&lt;br&gt;License: Public Domain&lt;br&gt;&lt;a href='https://unlicense.org'&gt;https://unlicense.org&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;spdlog&lt;/b&gt;&lt;br&gt;&lt;a href='https://github.com/gabime/spdlog'&gt;https://github.com/gabime/spdlog&lt;/a&gt;&lt;br&gt;Copyright (c) Gabi Melman&lt;br&gt;License: MIT&lt;br&gt;&lt;a href='https://opensource.org/licenses/MIT'&gt;https://opensource.org/licenses/MIT&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;zlib&lt;/b&gt;&lt;br&gt;&lt;a href='https://zlib.net'&gt;https://zlib.net&lt;/a&gt;&lt;br&gt;Copyright (c) Jean-loup Gailly and Mark Adler&lt;br&gt;License: zlib license&lt;br&gt;&lt;a href='https://zlib.net/zlib_license.html'&gt;https://zlib.net/zlib_license.html&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;QR-Code-generator&lt;/b&gt;&lt;br&gt;&lt;a href='https://www.nayuki.io/page/qr-code-generator-library'&gt;https://www.nayuki.io/page/qr-code-generator-library&lt;/a&gt;&lt;br&gt;Copyright (c) Project Nayuki&lt;br&gt;License: MIT&lt;br&gt;&lt;a href='https://opensource.org/licenses/MIT'&gt;https://opensource.org/licenses/MIT&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;Lato Font&lt;/b&gt;&lt;br&gt;&lt;a href='https://www.latofonts.com'&gt;https://www.latofonts.com&lt;/a&gt;&lt;br&gt;Copyright (c) Łukasz Dziedzic&lt;br&gt;License: Open Font License&lt;br&gt;&lt;a href='https://openfontlicense.org'&gt;https://openfontlicense.org&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;</source>
        <translation>&lt;b&gt;&lt;h2&gt;Licencias de Terceros utilizadas en la Aplicación:&lt;/h2&gt;&lt;/b&gt;&lt;br&gt;&lt;br&gt;&lt;b&gt;QT&lt;/b&gt;&lt;br&gt;&lt;a href='https://www.qt.io'&gt;https://www.qt.io&lt;/a&gt;&lt;br&gt;Copyright (c) The Qt Company Ltd and other contributors&lt;br&gt;Licencia: LGPL version 3&lt;br&gt;&lt;a href='https://www.gnu.org/licenses/lgpl-3.0.html'&gt;https://www.gnu.org/licenses/lgpl-3.0.html&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;Flatbuffers&lt;/b&gt;&lt;br&gt;&lt;a href='https://google.github.io/flatbuffers'&gt;https://google.github.io/flatbuffers&lt;/a&gt;&lt;br&gt;Copyright (c) Google Inc.&lt;br&gt;Licencia: Apache version 2&lt;br&gt;&lt;a href='https://www.apache.org/licenses/LICENSE-2.0'&gt;https://www.apache.org/licenses/LICENSE-2.0&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;cURL&lt;/b&gt;&lt;br&gt;&lt;a href='https://curl.se'&gt;https://curl.se&lt;/a&gt;&lt;br&gt;Copyright (c) Daniel Stenberg and many contributors&lt;br&gt;Licencia: The cURL license&lt;br&gt;&lt;a href='https://curl.se/docs/copyright.html'&gt;https://curl.se/docs/copyright.html&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;OpenSSL&lt;/b&gt;&lt;br&gt;&lt;a href='https://www.openssl.org'&gt;https://www.openssl.org&lt;/a&gt;&lt;br&gt;Copyright (c) The OpenSSL Project Authors&lt;br&gt;Licencia: Apache version 2&lt;br&gt;&lt;a href='https://www.openssl.org/source/license.html'&gt;https://www.openssl.org/source/license.html&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;libUV&lt;/b&gt;&lt;br&gt;&lt;a href='https://libuv.org'&gt;https://libuv.org&lt;/a&gt;&lt;br&gt;Copyright (c) libuv project contributors&lt;br&gt;Licencia: libUV license&lt;br&gt;&lt;a href='https://github.com/libuv/libuv/blob/v1.x/LICENSE'&gt;https://github.com/libuv/libuv/blob/v1.x/LICENSE&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;Crypto++&lt;/b&gt;&lt;br&gt;&lt;a href='https://www.cryptopp.com'&gt;https://www.cryptopp.com&lt;/a&gt;&lt;br&gt;Copyright (c) Wei Dai and other contributors&lt;br&gt;Licencia: Crypto++ license&lt;br&gt;&lt;a href='https://www.cryptopp.com/License.txt'&gt;https://www.cryptopp.com/License.txt&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;SQLite&lt;/b&gt;&lt;br&gt;&lt;a href='https://www.sqlite.org'&gt;https://www.sqlite.org&lt;/a&gt;&lt;br&gt;Licencia: Public Domain&lt;br&gt;&lt;a href='https://www.sqlite.org/copyright.html'&gt;https://www.sqlite.org/copyright.html&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;librsync&lt;/b&gt;&lt;br&gt;&lt;a href='https://librsync.github.io'&gt;https://librsync.github.io&lt;/a&gt;&lt;br&gt;Copyright (c) Martin Pool, Andrew Tridgell, Donovan Baarda and other contributors&lt;br&gt;Licencia: LGPL 2.1&lt;br&gt;&lt;a href='https://www.gnu.org/licenses/old-licenses/lgpl-2.1.html'&gt;https://www.gnu.org/licenses/old-licenses/lgpl-2.1.html&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;ccronexpr&lt;/b&gt;&lt;br&gt;&lt;a href='https://github.com/staticlibs/ccronexpr'&gt;https://github.com/staticlibs/ccronexpr&lt;/a&gt;&lt;br&gt;Copyright (c) alex at staticlibs.net&lt;br&gt;Licencia: Apache version 2&lt;br&gt;&lt;a href='https://www.apache.org/licenses/LICENSE-2.0'&gt;https://www.apache.org/licenses/LICENSE-2.0&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;tovo--zip&lt;/b&gt;&lt;br&gt;&lt;a href='https://unlicense.org'&gt;https://unlicense.org&lt;/a&gt;&lt;br&gt;Licencia: Public Domain&lt;br&gt;&lt;a href='https://unlicense.org'&gt;https://unlicense.org&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;spdlog&lt;/b&gt;&lt;br&gt;&lt;a href='https://github.com/gabime/spdlog'&gt;https://github.com/gabime/spdlog&lt;/a&gt;&lt;br&gt;Copyright (c) Gabi Melman&lt;br&gt;Licencia: MIT&lt;br&gt;&lt;a href='https://opensource.org/licenses/MIT'&gt;https://opensource.org/licenses/MIT&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;zlib&lt;/b&gt;&lt;br&gt;&lt;a href='https://zlib.net'&gt;https://zlib.net&lt;/a&gt;&lt;br&gt;Copyright (c) Jean-loup Gailly and Mark Adler&lt;br&gt;Licencia: zlib license&lt;br&gt;&lt;a href='https://zlib.net/zlib_license.html'&gt;https://zlib.net/zlib_license.html&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;QR-Code-generator&lt;/b&gt;&lt;br&gt;&lt;a href='https://www.nayuki.io/page/qr-code-generator-library'&gt;https://www.nayuki.io/page/qr-code-generator-library&lt;/a&gt;&lt;br&gt;Copyright (c) Project Nayuki&lt;br&gt;Licencia: MIT&lt;br&gt;&lt;a href='https://opensource.org/licenses/MIT'&gt;https://opensource.org/licenses/MIT&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;&lt;b&gt;Lato Font&lt;/b&gt;&lt;br&gt;&lt;a href='https://www.latofonts.com'&gt;https://www.latofonts.com&lt;/a&gt;&lt;br&gt;Copyright (c) Łukasz Dziedzic&lt;br&gt;Licencia: Open Font License&lt;br&gt;&lt;a href='https://openfontlicense.org'&gt;https://openfontlicense.org&lt;/a&gt;&lt;br&gt;&lt;br&gt;-------------------------------&lt;br&gt;&lt;br&gt;</translation>
    </message>
</context>
<context>
    <name>VersionLog</name>
    <message>
        <source>&lt;b&gt;&lt;h2&gt;What's new in version %1:&lt;/h2&gt;&lt;/b&gt;&lt;br&gt;&lt;br&gt;- Secure authentication service (login) and de-authentication (logout).&lt;br&gt;- Inbox Section for incoming records.&lt;br&gt;- Outbox Section for sent records.&lt;br&gt;- Sending records to destination inboxes, via contact or via URL.&lt;br&gt;- Filtering of records by name.&lt;br&gt;- Downloading of individual files and complete records.&lt;br&gt;- Creation, editing and deletion of inboxes.&lt;br&gt;- Filtering of inboxes by name. Sorting of inboxes by name, modification time and size.&lt;br&gt;- Catalogue of the user's personal inboxes.&lt;br&gt;- Classification of records received by inbox.&lt;br&gt;- Functionality for sharing inboxes and files.&lt;br&gt;- Creation, editing and deletion of contacts.&lt;br&gt;- Filtering of contacts by name.&lt;br&gt;- Association of inbox URLs to contacts. Outbox edition and deletion.&lt;br&gt;- Sending records to inboxes catalogued by contact.&lt;br&gt;- User profile section.&lt;br&gt;- Translation of the application. Available languages: English and Spanish.&lt;br&gt;- Downloading of the user's recovery key.&lt;br&gt;- New external emails system with real encryption.</source>
        <translation>&lt;b&gt;&lt;h2&gt;Novedades de la versión %1:&lt;/h2&gt;&lt;/b&gt;&lt;br&gt;&lt;br&gt;- Sistema de autenticación seguro.&lt;br&gt;- Bandeja de entrada para recoger los mensajes recibidos, ordenados cronológicamente.&lt;br&gt;- Bandeja de salida para recoger los mensajes enviados en orden cronológico.&lt;br&gt;- Envío de mensajes a buzones destino, vía contacto o bien, a tráves de dirección URL.&lt;br&gt;- Filtrado de mensajes por nombre.&lt;br&gt;- Descarga individual de ficheros adjuntos, o bien de paquetes completos de ficheros adjuntos.&lt;br&gt;- Creación, edición y borrado de buzones.&lt;br&gt;- Filtrado de buzones por nombre. Ordenación de buzones por nombre, fecha y tamaño.&lt;br&gt;- Catálogo de buzones personales de usuario.&lt;br&gt;- Clasificación de los mensajes recibidos por buzón.&lt;br&gt;- Función para compartir buzones y ficheros.&lt;br&gt;- Creación, edición y borrado de contactos.&lt;br&gt;- Ordenación de contactos por nombre y fecha de creación.&lt;br&gt;- Asociación a contactos de direcciones URL de buzones. Edición y borrado de buzones asociados a contactos.&lt;br&gt;- Envío de mensajes a buzones catalogados por contacto.&lt;br&gt;- Sección de perfil de usuario.&lt;br&gt;- Traducción de la aplicación. Lenguajes disponibles: Inglés y Español.&lt;br&gt;- Descarga de la Clave de Recuperación de la cuenta de usuario.&lt;br&gt;- Nuevo sistema de correos externos con cifrado real.</translation>
    </message>
</context>
</TS>