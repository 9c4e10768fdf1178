import QtQuick 2.15
import QtQuick.Controls 2.15

// What changed in this version, as one translated rich text.
Rectangle {
    id: versionLog
    objectName: "versionLog"
    color: "#f2f2f2"

    FontLoader { id: poppinsRegular; source: "fonts/Fonts/Poppins/Poppins-Regular.ttf" }

    ScrollView {
        id: versionScroll
        anchors.fill: parent
        clip: true
        ScrollBar.horizontal.policy: ScrollBar.AlwaysOff
        contentWidth: availableWidth

        Item {
            width: versionScroll.availableWidth
            implicitHeight: versionText.implicitHeight + 40

            Text {
                id: versionText
                objectName: "versionText"
                x: 170
                y: 20
                width: parent.width - 170 - 20
                textFormat: Text.RichText
                wrapMode: Text.WordWrap
                lineHeight: 1.2
                font.family: poppinsRegular.name
                font.pixelSize: 12
                // Set once: the window's context property is gone while the window is destroyed.
                Component.onCompleted: text = qsTr("<b><h2>What's new in version %1:</h2></b><br><br>" +
                           "- Secure authentication service (login) and de-authentication (logout).<br>" +
                           "- Inbox Section for incoming records.<br>" +
                           "- Outbox Section for sent records.<br>" +
                           "- Sending records to destination inboxes, via contact or via URL.<br>" +
                           "- Filtering of records by name.<br>" +
                           "- Downloading of individual files and complete records.<br>" +
                           "- Creation, editing and deletion of inboxes.<br>" +
                           "- Filtering of inboxes by name. Sorting of inboxes by name, modification time and size.<br>" +
                           "- Catalogue of the user's personal inboxes.<br>" +
                           "- Classification of records received by inbox.<br>" +
                           "- Functionality for sharing inboxes and files.<br>" +
                           "- Creation, editing and deletion of contacts.<br>" +
                           "- Filtering of contacts by name.<br>" +
                           "- Association of inbox URLs to contacts. Outbox edition and deletion.<br>" +
                           "- Sending records to inboxes catalogued by contact.<br>" +
                           "- User profile section.<br>" +
                           "- Translation of the application. Available languages: English and Spanish.<br>" +
                           "- Downloading of the user's recovery key.<br>" +
                           "- New external emails system with real encryption.").arg(mainWindow.getAppVersion())
                onLinkActivated: Qt.openUrlExternally(link)
            }
        }
    }
}
