import QtQuick 2.15
import QtQuick.Controls 2.15

// Modal confirmation popup: a title, a rich-text body written by this program, and a cancel
// and an accept button. A button click closes the popup first, then signals; Escape or a
// press outside closes it without a signal.
Popup {
    id: corvanePopup
    objectName: "corvanePopup"

    property string pTitle: ""
    property string pText: ""
    property string pAcceptText: ""
    property string pCancelText: ""

    signal accept()
    signal cancel()

    width: 475
    height: 175
    anchors.centerIn: parent
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutsideParent
    padding: 20

    FontLoader { id: poppinsRegular; source: "fonts/Fonts/Poppins/Poppins-Regular.ttf" }
    FontLoader { id: poppinsSemiBold; source: "fonts/Fonts/Poppins/Poppins-SemiBold.ttf" }

    background: Rectangle {
        radius: 10
        color: "white"
    }

    contentItem: Item {
        Column {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            spacing: 8

            Text {
                id: titleText
                objectName: "titleText"
                width: parent.width
                text: corvanePopup.pTitle
                textFormat: Text.PlainText
                wrapMode: Text.WordWrap
                font.family: poppinsSemiBold.name
                font.weight: Font.DemiBold
                font.pixelSize: 14
            }

            Text {
                id: bodyText
                objectName: "bodyText"
                width: parent.width
                height: Math.max(implicitHeight, corvanePopup.height / 2)
                text: corvanePopup.pText
                textFormat: Text.RichText
                wrapMode: Text.WordWrap
                font.family: poppinsRegular.name
                font.pixelSize: 10
                onLinkActivated: Qt.openUrlExternally(link)
            }
        }

        Row {
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: 35
            spacing: 10

            Button {
                id: cancelButton
                objectName: "cancelButton"
                width: 120
                height: parent.height
                hoverEnabled: true
                contentItem: Text {
                    text: corvanePopup.pCancelText !== "" ? corvanePopup.pCancelText : qsTr("Cancel")
                    color: "white"
                    font.family: poppinsRegular.name
                    font.pixelSize: 12
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle {
                    radius: 8
                    color: cancelButton.hovered ? "#0040ff" : "black"
                    Behavior on color { ColorAnimation { duration: 200 } }
                }
                onClicked: {
                    corvanePopup.close()
                    corvanePopup.cancel()
                }
            }

            Button {
                id: acceptButton
                objectName: "acceptButton"
                width: 120
                height: parent.height
                hoverEnabled: true
                contentItem: Text {
                    text: corvanePopup.pAcceptText !== "" ? corvanePopup.pAcceptText : qsTr("Continue")
                    color: "white"
                    font.family: poppinsRegular.name
                    font.pixelSize: 12
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle {
                    radius: 5
                    color: acceptButton.hovered ? "#0000ff" : "#0040ff"
                    Behavior on color { ColorAnimation { duration: 200 } }
                }
                onClicked: {
                    corvanePopup.close()
                    corvanePopup.accept()
                }
            }
        }
    }
}
