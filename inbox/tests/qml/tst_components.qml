import QtQuick 2.15
import QtQuick.Controls 2.15
import QtTest 1.15
import "../../qml"

Item {
    id: root
    width: 800
    height: 600

    CorvanePopup {
        id: popup
        pTitle: "Title"
        pText: "Body"
        property bool openedAtSignal: true
        onAccept: openedAtSignal = opened || visible
        onCancel: openedAtSignal = opened || visible
    }

    SignalSpy { id: acceptSpy; target: popup; signalName: "accept" }
    SignalSpy { id: cancelSpy; target: popup; signalName: "cancel" }

    CircularProgressBar {
        id: ring
        x: 10
        y: 10
        size: 100
        lineWidth: 10
    }

    CorvaneButton {
        id: iconButton
        x: 300
        y: 10
        width: 120
        height: 30
        pImageSource: "data:image/svg+xml;utf8,<svg xmlns='http://www.w3.org/2000/svg' width='15' height='15'><rect width='15' height='15' fill='black'/></svg>"
        pImageVisibility: true
        pText: ""
        pPrimaryColor: "#ffffff"
        pHoverColor: "#e7edff"
    }

    CorvaneButton {
        id: labelButton
        x: 300
        y: 60
        width: 120
        height: 30
        pText: "Settings"
        pPrimaryColor: "#ffffff"
        pHoverColor: "#0040ff"
        pTextPrimaryColor: "#000000"
        pTextHoverColor: "#ffffff"
    }

    SignalSpy { id: clickSpy; target: labelButton; signalName: "clicked" }

    TestCase {
        name: "CorvanePopup"
        when: windowShown

        function init() {
            popup.pAcceptText = ""
            popup.pCancelText = ""
            popup.openedAtSignal = true
            acceptSpy.clear()
            cancelSpy.clear()
        }

        function cleanup() {
            popup.close()
            tryCompare(popup, "visible", false)
        }

        function buttonText(name) {
            return findChild(popup, name).contentItem.text
        }

        function test_default_texts_then_replaced() {
            compare(buttonText("acceptButton"), "Continue")
            compare(buttonText("cancelButton"), "Cancel")
            popup.pAcceptText = "Update"
            compare(buttonText("acceptButton"), "Update")
            popup.pCancelText = "Not now"
            compare(buttonText("cancelButton"), "Not now")
        }

        function test_button_closes_then_signals_data() {
            return [
                { tag: "accept", button: "acceptButton", accepts: 1, cancels: 0 },
                { tag: "cancel", button: "cancelButton", accepts: 0, cancels: 1 }
            ]
        }

        function test_button_closes_then_signals(data) {
            popup.open()
            tryCompare(popup, "opened", true)
            mouseClick(findChild(popup, data.button))
            compare(acceptSpy.count, data.accepts)
            compare(cancelSpy.count, data.cancels)
            // The popup was already closed when its signal went out.
            compare(popup.openedAtSignal, false)
            tryCompare(popup, "visible", false)
        }

        function test_escape_closes_without_a_signal() {
            popup.open()
            tryCompare(popup, "opened", true)
            keyClick(Qt.Key_Escape)
            tryCompare(popup, "visible", false)
            compare(acceptSpy.count, 0)
            compare(cancelSpy.count, 0)
        }

        function test_geometry_and_modality() {
            compare(popup.width, 475)
            compare(popup.height, 175)
            verify(popup.modal)
            popup.open()
            tryCompare(popup, "opened", true)
            // Centred in its parent.
            compare(popup.x, (root.width - popup.width) / 2)
            compare(popup.y, (root.height - popup.height) / 2)
        }
    }

    TestCase {
        name: "CircularProgressBar"
        when: windowShown

        // A point on the ring's centre line at the given clock angle (0 at the top, clockwise).
        function ringPoint(degrees) {
            var radius = ring.size / 2 - ring.lineWidth
            var radians = (degrees - 90) * Math.PI / 180
            return Qt.point(Math.round(ring.size / 2 + radius * Math.cos(radians)),
                            Math.round(ring.size / 2 + radius * Math.sin(radians)))
        }

        // What the ring's canvas drew at a point, read back from the canvas itself (a window
        // grab is empty without a display).
        function pixel(point) {
            var data = findChild(ring, "ringCanvas").getContext("2d").getImageData(point.x, point.y, 1, 1).data
            return { r: data[0], g: data[1], b: data[2], a: data[3] }
        }

        function isBlue(c) {
            return c.a > 200 && c.b > 220 && c.r < 50 && c.g < 110
        }

        function isGrey(c) {
            return c.a > 200 && Math.abs(c.r - 232) < 16 && Math.abs(c.g - 232) < 16 && Math.abs(c.b - 232) < 16
        }

        function describe(c) {
            return "rgba(" + c.r + "," + c.g + "," + c.b + "," + c.a + ")"
        }

        function init() {
            ring.animationDuration = 0
            ring.value = 0
            tryCompare(ring, "angle", 0)
            ring.animationDuration = 200
        }

        function test_defaults() {
            var fresh = createTemporaryObject(Qt.createComponent("../../qml/CircularProgressBar.qml"), root)
            compare(fresh.size, 150)
            compare(fresh.lineWidth, 5)
            compare(fresh.value, 0)
            compare(fresh.animationDuration, 1000)
            compare(fresh.width, 150)
            verify(Qt.colorEqual(fresh.primaryColor, "#0040ff"))
            verify(Qt.colorEqual(fresh.secondaryColor, "#e8e8e8"))
        }

        function test_value_grows_to_its_angle() {
            ring.value = 0.5
            // The angle eases towards its target instead of jumping there.
            verify(ring.angle < 180)
            tryCompare(ring, "angle", 180)
        }

        function test_arc_is_drawn_clockwise_from_the_top_data() {
            return [
                { tag: "quarter", value: 0.25, blue: [45], grey: [135, 225, 315] },
                { tag: "half", value: 0.5, blue: [45, 90, 135], grey: [225, 270, 315] },
                { tag: "three quarters", value: 0.75, blue: [90, 180, 225], grey: [315] },
                { tag: "full", value: 1, blue: [45, 135, 225, 315], grey: [] }
            ]
        }

        function test_arc_is_drawn_clockwise_from_the_top(data) {
            ring.value = data.value
            tryCompare(ring, "angle", data.value * 360)
            for (var i = 0; i < data.blue.length; ++i) {
                var p = ringPoint(data.blue[i])
                tryVerify(function() { return isBlue(pixel(p)) }, 2000,
                          "blue at " + data.blue[i] + " degrees, got " + describe(pixel(p)))
            }
            for (var j = 0; j < data.grey.length; ++j) {
                var q = ringPoint(data.grey[j])
                verify(isGrey(pixel(q)), "grey at " + data.grey[j] + " degrees, got " + describe(pixel(q)))
            }
        }
    }

    TestCase {
        name: "CorvaneButton"
        when: windowShown

        function test_icon_only_hides_the_label() {
            verify(!findChild(iconButton, "buttonLabel").visible)
            verify(findChild(iconButton, "buttonIcon").visible)
            compare(findChild(iconButton, "buttonIcon").width, 15)
        }

        function test_label_only_collapses_the_icon_and_centres() {
            var icon = findChild(labelButton, "buttonIcon")
            var label = findChild(labelButton, "buttonLabel")
            compare(icon.width, 0)
            compare(icon.height, 0)
            verify(label.visible)
            var centre = label.mapToItem(labelButton, label.width / 2, 0).x
            fuzzyCompare(centre, labelButton.width / 2, 2)
        }

        function test_hover_colours_and_click() {
            var background = findChild(labelButton, "buttonBackground")
            var label = findChild(labelButton, "buttonLabel")
            mouseMove(labelButton, 10, 10)
            tryVerify(function() { return Qt.colorEqual(background.color, "#0040ff") })
            tryVerify(function() { return Qt.colorEqual(label.color, "#ffffff") })
            mouseMove(root, 5, 590)
            tryVerify(function() { return Qt.colorEqual(background.color, "#ffffff") })
            tryVerify(function() { return Qt.colorEqual(label.color, "#000000") })
            mouseClick(labelButton)
            compare(clickSpy.count, 1)
        }
    }
}
