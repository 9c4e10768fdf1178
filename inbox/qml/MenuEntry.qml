import QtQuick 2.15

// One entry of the main screen's menu: its background colour is its state (white released,
// "#e7edff" hovered, "#0040ff" selected), which the shell and the pages set; icon and label
// follow it. The shell puts the entry's mouse area and badge inside it.
Rectangle {
    id: menuEntry

    property string label: ""
    property string releasedIcon: ""
    property string selectedIcon: ""
    readonly property bool selected: Qt.colorEqual(color, "#0040ff")
    readonly property bool hovered: Qt.colorEqual(color, "#e7edff")

    height: 40
    radius: 10
    color: "white"

    Behavior on color { ColorAnimation { duration: 200 } }

    FontLoader { id: poppinsRegular; source: "fonts/Fonts/Poppins/Poppins-Regular.ttf" }

    function hoverIn() {
        if (Qt.colorEqual(color, "white"))
            color = "#e7edff"
    }

    function hoverOut() {
        if (hovered)
            color = "white"
    }

    Image {
        id: entryIcon
        x: 10
        anchors.verticalCenter: parent.verticalCenter
        width: 20
        height: 20
        sourceSize: Qt.size(20, 20)
        source: menuEntry.selected ? menuEntry.selectedIcon : menuEntry.releasedIcon
    }

    Text {
        anchors.left: entryIcon.right
        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        text: menuEntry.label
        textFormat: Text.PlainText
        font.family: poppinsRegular.name
        font.pixelSize: 11
        color: menuEntry.selected ? "white" : (menuEntry.hovered ? "#0040ff" : "black")
        Behavior on color { ColorAnimation { duration: 200 } }
    }
}
