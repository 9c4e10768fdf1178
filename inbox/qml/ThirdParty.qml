import QtQuick 2.15
import QtQuick.Controls 2.15

// Notices of the libraries and the font face this program ships, as one translated rich text.
Rectangle {
    id: thirdParty
    objectName: "thirdParty"
    color: "#f2f2f2"

    FontLoader { id: poppinsRegular; source: "fonts/Fonts/Poppins/Poppins-Regular.ttf" }

    ScrollView {
        id: noticesScroll
        anchors.fill: parent
        clip: true
        ScrollBar.horizontal.policy: ScrollBar.AlwaysOff
        contentWidth: availableWidth

        Item {
            width: noticesScroll.availableWidth
            implicitHeight: noticesText.implicitHeight + 40

            Text {
                id: noticesText
                objectName: "noticesText"
                x: 170
                y: 20
                width: parent.width - 170 - 20
                textFormat: Text.RichText
                wrapMode: Text.WordWrap
                lineHeight: 1.2
                font.family: poppinsRegular.name
                font.pixelSize: 12
                text: qsTr("<b><h2>Third-party libraries used by this application:</h2></b><br><br>" +
                           "<b>QT</b><br><a href='https://www.qt.io'>https://www.qt.io</a><br>Copyright (c) The Qt Company Ltd and other contributors<br>License: LGPL version 3<br><a href='https://www.gnu.org/licenses/lgpl-3.0.html'>https://www.gnu.org/licenses/lgpl-3.0.html</a><br><br>-------------------------------<br><br>" +
                           "<b>Flatbuffers</b><br><a href='https://google.github.io/flatbuffers'>https://google.github.io/flatbuffers</a><br>Copyright (c) Google Inc.<br>License: Apache version 2<br><a href='https://www.apache.org/licenses/LICENSE-2.0'>https://www.apache.org/licenses/LICENSE-2.0</a><br><br>-------------------------------<br><br>" +
                           "<b>cURL</b><br><a href='https://curl.se'>https://curl.se</a><br>Copyright (c) Daniel Stenberg and many contributors<br>License: The cURL license<br><a href='https://curl.se/docs/copyright.html'>https://curl.se/docs/copyright.html</a><br><br>-------------------------------<br><br>" +
                           "<b>OpenSSL</b><br><a href='https://www.openssl.org'>https://www.openssl.org</a><br>Copyright (c) The OpenSSL Project Authors<br>License: Apache version 2<br><a href='https://www.openssl.org/source/license.html'>https://www.openssl.org/source/license.html</a><br><br>-------------------------------<br><br>" +
                           "<b>libUV</b><br><a href='https://libuv.org'>https://libuv.org</a><br>Copyright (c) libuv project contributors<br>License: libUV license<br><a href='https://github.com/libuv/libuv/blob/v1.x/LICENSE'>https://github.com/libuv/libuv/blob/v1.x/LICENSE</a><br><br>-------------------------------<br><br>" +
                           "<b>Crypto++</b><br><a href='https://www.cryptopp.com'>https://www.cryptopp.com</a><br>Copyright (c) Wei Dai and other contributors<br>License: Crypto++ license<br><a href='https://www.cryptopp.com/License.txt'>https://www.cryptopp.com/License.txt</a><br><br>-------------------------------<br><br>" +
                           "<b>SQLite</b><br><a href='https://www.sqlite.org'>https://www.sqlite.org</a><br>License: Public Domain<br><a href='https://www.sqlite.org/copyright.html'>https://www.sqlite.org/copyright.html</a><br><br>-------------------------------<br><br>" +
                           "<b>librsync</b><br><a href='https://librsync.github.io'>https://librsync.github.io</a><br>Copyright (c) Martin Pool, Andrew Tridgell, Donovan Baarda and other contributors<br>License: LGPL 2.1<br><a href='https://www.gnu.org/licenses/old-licenses/lgpl-2.1.html'>https://www.gnu.org/licenses/old-licenses/lgpl-2.1.html</a><br><br>-------------------------------<br><br>" +
                           "<b>ccronexpr</b><br><a href='https://github.com/staticlibs/ccronexpr'>https://github.com/staticlibs/ccronexpr</a><br>Copyright (c) alex at staticlibs.net<br>License: Apache version 2<br><a href='https://www.apache.org/licenses/LICENSE-2.0'>https://www.apache.org/licenses/LICENSE-2.0</a><br><br>-------------------------------<br><br>" +
                           "<b>tovo--zip</b><br><a href='https://unlicense.org'>https://unlicense.org</a><br>License: Public Domain<br><a href='https://unlicense.org'>https://unlicense.org</a><br><br>-------------------------------<br><br>" +
                           "<b>spdlog</b><br><a href='https://github.com/gabime/spdlog'>https://github.com/gabime/spdlog</a><br>Copyright (c) Gabi Melman<br>License: MIT<br><a href='https://opensource.org/licenses/MIT'>https://opensource.org/licenses/MIT</a><br><br>-------------------------------<br><br>" +
                           "<b>zlib</b><br><a href='https://zlib.net'>https://zlib.net</a><br>Copyright (c) Jean-loup Gailly and Mark Adler<br>License: zlib license<br><a href='https://zlib.net/zlib_license.html'>https://zlib.net/zlib_license.html</a><br><br>-------------------------------<br><br>" +
                           "<b>QR-Code-generator</b><br><a href='https://www.nayuki.io/page/qr-code-generator-library'>https://www.nayuki.io/page/qr-code-generator-library</a><br>Copyright (c) Project Nayuki<br>License: MIT<br><a href='https://opensource.org/licenses/MIT'>https://opensource.org/licenses/MIT</a><br><br>-------------------------------<br><br>" +
                           "<b>Lato Font</b><br><a href='https://www.latofonts.com'>https://www.latofonts.com</a><br>Copyright (c) Łukasz Dziedzic<br>License: Open Font License<br><a href='https://openfontlicense.org'>https://openfontlicense.org</a><br><br>-------------------------------<br><br>")
                onLinkActivated: Qt.openUrlExternally(link)
            }
        }
    }
}
