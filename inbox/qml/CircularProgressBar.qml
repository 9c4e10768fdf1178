import QtQuick 2.15

// Progress ring: a grey track and a coloured arc from the top, clockwise, that eases to the
// new value.
Item {
    id: progressRing
    objectName: "progressRing"

    property int size: 150
    property int lineWidth: 5
    property real value: 0
    property color primaryColor: "#0040ff"
    property color secondaryColor: "#e8e8e8"
    property int animationDuration: 1000
    readonly property alias angle: ringCanvas.degree

    width: size
    height: size

    onValueChanged: ringCanvas.degree = value * 360

    Canvas {
        id: ringCanvas
        objectName: "ringCanvas"
        anchors.fill: parent
        antialiasing: true

        property real degree: 0

        Behavior on degree {
            NumberAnimation {
                duration: progressRing.animationDuration
                easing.type: Easing.OutCubic
            }
        }

        onDegreeChanged: requestPaint()

        onPaint: {
            var ctx = getContext("2d")
            var cx = width / 2
            var cy = height / 2
            var radius = progressRing.size / 2 - progressRing.lineWidth
            var start = Math.PI * 1.5
            ctx.reset()
            ctx.clearRect(0, 0, width, height)
            ctx.lineCap = "round"
            ctx.lineWidth = progressRing.lineWidth

            ctx.beginPath()
            ctx.arc(cx, cy, radius, start, start + Math.PI * 2, false)
            ctx.strokeStyle = progressRing.secondaryColor
            ctx.stroke()

            if (degree > 0) {
                ctx.beginPath()
                ctx.arc(cx, cy, radius, start, start + degree * Math.PI / 180, false)
                ctx.strokeStyle = progressRing.primaryColor
                ctx.stroke()
            }
        }
    }
}
