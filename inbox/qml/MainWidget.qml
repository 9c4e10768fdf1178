import QtQuick 2.15
import QtQuick.Controls 2.15
import Tembra.MainWindow 1.0

// Root of the signed-in window. Pages are pushed onto the stack by key; until the screens of
// the account exist the stack starts on an empty page.
Item {
    id: mainItem
    objectName: "mainItem"
    width: 950
    height: 600

    FontLoader { id: brandonBold; source: "fonts/Fonts/Brandon/brandon-bold.otf" }
    FontLoader { id: poppinsRegular; source: "fonts/Fonts/Poppins/Poppins-Regular.ttf" }
    FontLoader { id: poppinsSemiBold; source: "fonts/Fonts/Poppins/Poppins-SemiBold.ttf" }

    readonly property var pages: ({
        "VersionLogPage": versionLogPage,
        "ThirdPartyPage": thirdPartyPage
    })

    // Pushes a new instance of the page named by key; earlier instances stay beneath.
    function loadPage(page) {
        var component = pages[page]
        if (component)
            stack.push(component)
    }

    Component { id: versionLogPage; VersionLog {} }
    Component { id: thirdPartyPage; ThirdParty {} }

    Component {
        id: emptyPage
        Rectangle {
            objectName: "emptyPage"
            color: "white"

            Image {
                objectName: "emptyPageLogo"
                anchors.centerIn: parent
                width: 200
                height: 50
                source: "images/Images/cvn-tembra.svg"
                sourceSize: Qt.size(200, 50)
            }
        }
    }

    StackView {
        id: stack
        objectName: "stack"
        anchors.fill: parent
        initialItem: emptyPage
    }
}
