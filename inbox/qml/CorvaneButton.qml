import QtQuick 2.15
import QtQuick.Controls 2.15

// Flat button with an optional icon and a label; background and label change colour under
// the pointer.
Button {
    id: corvaneButton
    objectName: "corvaneButton"

    property string pImageSource: ""
    property bool pImageVisibility: false
    property string pText: ""
    property string pPrimaryColor: "white"
    property string pHoverColor: "#e7edff"
    property string pTextPrimaryColor: "black"
    property string pTextHoverColor: "#0040ff"
    property int pTextSize: 12
    property int pRadius: 8

    hoverEnabled: true
    padding: 0

    FontLoader { id: poppinsSemiBold; source: "fonts/Fonts/Poppins/Poppins-SemiBold.ttf" }

    background: Rectangle {
        objectName: "buttonBackground"
        radius: corvaneButton.pRadius
        color: corvaneButton.hovered ? corvaneButton.pHoverColor : corvaneButton.pPrimaryColor
        Behavior on color { ColorAnimation { duration: 200 } }
    }

    contentItem: Item {
        Row {
            id: buttonRow
            readonly property bool hasIcon: corvaneButton.pImageVisibility && corvaneButton.pImageSource !== ""
            anchors.verticalCenter: parent.verticalCenter
            x: hasIcon ? 0 : (parent.width - width) / 2

            Image {
                id: buttonIcon
                objectName: "buttonIcon"
                visible: buttonRow.hasIcon
                width: visible ? 15 : 0
                height: visible ? 15 : 0
                anchors.verticalCenter: parent.verticalCenter
                source: corvaneButton.pImageSource
                sourceSize: Qt.size(15, 15)
                fillMode: Image.PreserveAspectFit
            }

            Item {
                width: buttonRow.hasIcon ? 15 : 0
                height: 1
            }

            Text {
                id: buttonLabel
                objectName: "buttonLabel"
                visible: corvaneButton.pText !== ""
                anchors.verticalCenter: parent.verticalCenter
                text: corvaneButton.pText
                textFormat: Text.PlainText
                color: corvaneButton.hovered ? corvaneButton.pTextHoverColor : corvaneButton.pTextPrimaryColor
                font.family: poppinsSemiBold.name
                font.weight: Font.DemiBold
                font.pixelSize: corvaneButton.pTextSize
                Behavior on color { ColorAnimation { duration: 200 } }
            }
        }
    }
}
