#!/usr/bin/env python3
"""Refreshes the Spanish translation from the sources and compiles it into the resources.

lupdate collects every translatable text of inbox/qml and inbox/src/ui into
inbox/translations/es.ts; the Spanish texts below fill it; lrelease writes
inbox/resources/Translations/es.qm, which translations.qrc compiles into the program.
Texts without a Spanish entry stay unfinished and show in English."""

import os
import subprocess
import sys
import xml.etree.ElementTree as ET

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
TS = os.path.join(ROOT, "inbox", "translations", "es.ts")
QM = os.path.join(ROOT, "inbox", "resources", "Translations", "es.qm")

VERSION_LINES = [
    ("Secure authentication service (login) and de-authentication (logout).", "Sistema de autenticación seguro."),
    ("Inbox Section for incoming records.",
     "Bandeja de entrada para recoger los mensajes recibidos, ordenados cronológicamente."),
    ("Outbox Section for sent records.", "Bandeja de salida para recoger los mensajes enviados en orden cronológico."),
    ("Sending records to destination inboxes, via contact or via URL.",
     "Envío de mensajes a buzones destino, vía contacto o bien, a tráves de dirección URL."),
    ("Filtering of records by name.", "Filtrado de mensajes por nombre."),
    ("Downloading of individual files and complete records.",
     "Descarga individual de ficheros adjuntos, o bien de paquetes completos de ficheros adjuntos."),
    ("Creation, editing and deletion of inboxes.", "Creación, edición y borrado de buzones."),
    ("Filtering of inboxes by name. Sorting of inboxes by name, modification time and size.",
     "Filtrado de buzones por nombre. Ordenación de buzones por nombre, fecha y tamaño."),
    ("Catalogue of the user's personal inboxes.", "Catálogo de buzones personales de usuario."),
    ("Classification of records received by inbox.", "Clasificación de los mensajes recibidos por buzón."),
    ("Functionality for sharing inboxes and files.", "Función para compartir buzones y ficheros."),
    ("Creation, editing and deletion of contacts.", "Creación, edición y borrado de contactos."),
    ("Filtering of contacts by name.", "Ordenación de contactos por nombre y fecha de creación."),
    ("Association of inbox URLs to contacts. Outbox edition and deletion.",
     "Asociación a contactos de direcciones URL de buzones. Edición y borrado de buzones asociados a contactos."),
    ("Sending records to inboxes catalogued by contact.", "Envío de mensajes a buzones catalogados por contacto."),
    ("User profile section.", "Sección de perfil de usuario."),
    ("Translation of the application. Available languages: English and Spanish.",
     "Traducción de la aplicación. Lenguajes disponibles: Inglés y Español."),
    ("Downloading of the user's recovery key.", "Descarga de la Clave de Recuperación de la cuenta de usuario."),
    ("New external emails system with real encryption.", "Nuevo sistema de correos externos con cifrado real."),
]


def version_log(index, heading):
    return heading + "<br>".join("- " + line[index] for line in VERSION_LINES)


SPANISH = {
    ("CorvanePopup", "Cancel"): "Cancelar",
    ("CorvanePopup", "Continue"): "Continuar",
    ("LoginWindow", "Login to Corvane"): "Acceso a Corvane",
    ("MainWindow", "Tembra | The Business Mail"): "Tembra | Correo seguro para profesionales y empresas",
    ("LoginWidget", "We seem to be unable to connect you to Corvane. Please check your Internet connection."):
        "Parece que no podemos conectarte a Corvane. Por favor, revisa tu conexión a Internet.",
    ("LoginWidget", "The authentication code entered is not correct."): "El código de autenticación es inválido.",
    ("LoginWidget", "Tembra Login"): "Acceso Tembra",
    ("LoginWidget", "Email"): "Correo electrónico",
    ("LoginWidget", "Password"): "Contraseña",
    ("LoginWidget", "Wrong credentials"): "Credenciales incorrectas",
    ("LoginWidget", "Login"): "Iniciar Sesión",
    ("LoginWidget", "Register in Corvane"): "Regístrate en Corvane",
    ("LoginWidget", "Privacy."): "Privado.",
    ("LoginWidget", "We cipher your messages directly on your computer so that no one can read them except your "
                    "recipient."):
        "Ciframos tus mensajes directamente en tu ordenador para que nadie salvo tu destinatario pueda leerlos.",
    ("LoginWidget", "Encryption."): "Seguro.",
    ("LoginWidget", "Your files are encrypted before they are sent and decrypted only when they are received."):
        "Tus ficheros son encriptados antes de ser enviados y se desencriptan solo cuando son recibidos.",
    ("LoginWidget", "Work faster."): "Rápido.",
    ("LoginWidget", "Our application is designed to be easy to use. Keep your data organised: contacts, inboxes... "
                    "There's always a place for every message."):
        "Tembra está diseñado para ser sencillo de usar. Organízate: contactos, buzones... Siempre hay un lugar para "
        "cada mensaje.",
    ("LoginWidget", "Loading..."): "Cargando...",
    ("LoginWidget", "Validating user..."): "Validando usuario...",
    ("LoginWidget", "We are making the first run..."): "Haciendo la configuración inicial...",
    ("LoginWidget", "Fetching a lot of data..."): "Cargando datos de usuario...",
    ("LoginWidget", "Almost done..."): "Casi estamos listos...",
    ("LoginWidget", "Two-Factor Authentication"): "Autenticación de Doble Factor",
    ("LoginWidget", "Check your TOTP Generator application and enter a new six-digit code."):
        "Comprueba tu Generador TOTP y escribe un nuevo código de seis dígitos.",
    ("LoginWidget", "Account Blocked"): "Cuenta Bloqueada",
    ("LoginWidget", "If you want to continue using our services, please complete your invoicing settings in our "
                    "website."):
        "Si deseas continuar usando nuestros servicios, por favor configura tu método de pago en nuestra web.",
    ("LoginWidget", "Activate"): "Activar",
    ("MainWidget", "Received"): "Recibidos",
    ("MainWidget", "Sent"): "Enviados",
    ("MainWidget", "My Inboxes"): "Buzones",
    ("MainWidget", "Contacts"): "Contactos",
    ("MainWidget", "Logout"): "Salir",
    ("MainWidget", "Settings"): "Ajustes",
    ("MainWidget", "File "): "Fichero ",
    ("MainWidget", " of "): " de ",
    ("MainWidget", "Are you sure you want to log out?"): "¿Seguro que deseas Cerrar la Sesión?",
    ("MainWidget", "Cancel"): "Cancelar",
    ("MainWidget", "Continue"): "Continuar",
    ("MainWidget", "Update Tembra"): "Actualizar Tembra",
    ("MainWidget", "Tembra has been updated.\nPlease restart the app when possible to enjoy the new version."):
        "Tembra se ha actualizado.\nPor favor, reinicia la app para disfrutar de la nueva versión.",
    ("MainWidget", "Update"): "Actualizar",
    ("MainWidget", "Upgrade your plan"): "Mejorar mi plan",
    ("MainWidget", "You have used up all the storage in your plan. <b>The messages you send cannot be saved in your "
                   "'Sent' panel.</b> Please consider upgrading to our business plans or contact "):
        "Has usado todo el almacenamiento de tu plan. <b>Los mensajes no se guardarán en la bandeja de salida.</b> "
        "Por favor, considera mejorar tu plan o contacta con ",
    ("MainWidget", "You have used up all the storage in your plan. <b>It means you cannot continue sending external "
                   "emails.</b> Please consider upgrading to our business plans or contact "):
        "Has usado todo el almacenamiento de tu plan. <b>No podrás continuar enviando correos externos.</b> "
        "Por favor, considera mejorar tu plan o contacta con ",
    ("MainWidget", " to customize a plan for you."): " para que personalicemos un plan a tu medida.",
    ("MainWidget", "Send anyway"): "Enviar",
    ("MainWidget", "Contact"): "Contactar",
    ("MainWidget", "UPGRADE PLAN"): "MEJORAR PLAN",
    ("MainWidget", "An error has occurred. Please check that your data is correct."):
        "Ha ocurrido un error. Por favor, comprueba que los datos introducidos son correctos.",
    ("MainWidget", "An inbox with the same name already exists."): "Ya existe un buzón con el mismo nombre.",
    ("MainWidget", "We seem to be unable to connect you to Corvane. Please check your Internet connection."):
        "Parece que no podemos conectarte a Corvane. Por favor, comprueba tu conexión a Internet.",
    ("MainWidget", "There's already a contact associated with this inbox address."):
        "Ya existe un contacto asociado a ese buzón.",
    ("MainWidget", "The authentication code entered is not correct."): "El código de autenticación es inválido.",
    ("MainWidget", "Oops, it is not allowed to send folders..."): "Ups, no está permitido subir capetas...",
    ("MainWidget", "Oops, it looks like your contact has no space in their inbox. The message could not be sent..."):
        "Ups, parece que tu contacto no tiene espacio en su bandeja de entrada. El mensaje no se enviará...",
    ("MainWidget", "You are not allowed to make changes on this account (read only access)"):
        "No tienes permiso para realizar cambios en esta cuenta (sólo lectura)",
    ("VersionLog", version_log(0, "<b><h2>What's new in version %1:</h2></b><br><br>")):
        version_log(1, "<b><h2>Novedades de la versión %1:</h2></b><br><br>"),
}


def spanish_notices(english):
    """The notices differ only in their heading and the word before each licence."""
    heading = "<b><h2>Third-party libraries used by this application:</h2></b><br><br>"
    if not english.startswith(heading):
        return None
    body = english[len(heading):].replace("<br>License: ", "<br>Licencia: ")
    return "<b><h2>Licencias de Terceros utilizadas en la Aplicación:</h2></b><br><br>" + body


def main():
    os.makedirs(os.path.dirname(TS), exist_ok=True)
    subprocess.run(["lupdate", "-silent", "-locations", "none", "-no-obsolete", "-target-language", "es_ES",
                    os.path.join(ROOT, "inbox", "qml"), os.path.join(ROOT, "inbox", "src", "ui"), "-ts", TS],
                   check=True)
    tree = ET.parse(TS)
    missing = []
    for context in tree.getroot().iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            source = message.findtext("source")
            translation = message.find("translation")
            text = SPANISH.get((name, source))
            if text is None and name == "ThirdParty":
                text = spanish_notices(source)
            if text is None:
                missing.append((name, source[:60]))
                continue
            translation.text = text
            translation.attrib.pop("type", None)
    tree.write(TS, encoding="utf-8", xml_declaration=True)
    with open(TS, "r+", encoding="utf-8") as f:
        content = f.read().replace("<?xml version='1.0' encoding='utf-8'?>", '<?xml version="1.0" encoding="utf-8"?>\n'
                                   '<!DOCTYPE TS>', 1)
        f.seek(0)
        f.write(content)
        f.truncate()
    os.makedirs(os.path.dirname(QM), exist_ok=True)
    subprocess.run(["lrelease", "-silent", TS, "-qm", QM], check=True)
    for name, source in missing:
        print(f"no Spanish for {name}: {source}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
