import QtQuick 2.15
import QtQuick.Controls 2.15
import QtGraphicalEffects 1.15
import Tembra.LoginWindow 1.0

// The sign-in screen: the form on the left, the slides on the right, the two-factor drawer,
// the account-blocked popup and the error toast. Talks to the dialog only through the
// "loginWindow" context property.
Item {
    id: loginItem
    objectName: "loginItem"
    width: 750
    height: 500

    // Set by the first failed attempt; the next attempt fades the error banner out first.
    property bool userFailed: false
    // Whether the two-factor drawer was closed by sending a code (else the form goes idle).
    property bool codeSent: false

    FontLoader { id: brandonBold; source: "fonts/Fonts/Brandon/brandon-bold.otf" }
    FontLoader { id: poppinsRegular; source: "fonts/Fonts/Poppins/Poppins-Regular.ttf" }
    FontLoader { id: poppinsSemiBold; source: "fonts/Fonts/Poppins/Poppins-SemiBold.ttf" }

    component Slide: Item {
        property string image
        property string heading
        property string body

        Column {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.margins: 35
            anchors.verticalCenter: parent.verticalCenter
            spacing: 10

            Image {
                width: 120
                height: 120
                source: image
                sourceSize: Qt.size(120, 120)
            }
            Text {
                width: parent.width
                text: heading
                color: "white"
                font.family: poppinsSemiBold.name
                font.weight: Font.DemiBold
                font.pixelSize: 55
                fontSizeMode: Text.HorizontalFit
                minimumPixelSize: 30
            }
            Text {
                width: parent.width
                text: body
                color: "white"
                wrapMode: Text.WordWrap
                font.family: poppinsRegular.name
                font.pixelSize: 14
            }
        }
    }

    function setFormEnabled(enabled) {
        loginButton.enabled = enabled
        emailField.enabled = enabled
        passwordField.enabled = enabled
    }

    function startLogin() {
        loginWindow.onLoginButtonClicked(emailField.text, passwordField.text)
        setFormEnabled(false)
        if (userFailed)
            bannerOutAnimation.start()
        buttonTextAnimation.start()
        waitingAnimation.start()
        informativeAnimation.start()
    }

    function resetForm() {
        buttonTextAnimation.stop()
        waitingAnimation.stop()
        informativeAnimation.stop()
        informativeText.opacity = 0
        resetAnimation.restart()
        setFormEnabled(true)
    }

    function showToast(message, colour) {
        toastText.text = message
        toast.color = colour
        if (!toastAnimation.running)
            toastAnimation.start()
    }

    Connections {
        target: loginWindow

        function onLoginStatusChanged() {
            if (loginWindow.loginStatus !== 0)
                return
            loginItem.userFailed = true
            bannerInAnimation.start()
            loginItem.resetForm()
        }

        function onError(errorType) {
            switch (errorType) {
            case 5:
                loginItem.showToast(qsTr("We seem to be unable to connect you to Corvane. Please check your Internet connection."), "#ea4848")
                loginItem.resetForm()
                break
            case 8:
                loginItem.showToast(qsTr("The authentication code entered is not correct."), "#ea4848")
                loginItem.resetForm()
                break
            case 9:
                loginItem.codeSent = false
                twoFactorDrawer.open()
                codeField.forceActiveFocus()
                break
            case 12:
                if (!blockedPopup.opened)
                    blockedPopup.open()
                loginItem.resetForm()
                break
            default:
                break
            }
        }
    }

    // Left pane: the form. Drawn above the slides.
    Rectangle {
        id: leftPane
        objectName: "leftPane"
        x: 0
        width: 375
        height: parent.height
        color: "white"
        z: 1
        layer.enabled: GraphicsInfo.api !== GraphicsInfo.Software
        layer.effect: DropShadow {
            horizontalOffset: 2
            radius: 12
            samples: 25
            color: "#30000000"
        }

        Image {
            id: logoImage
            objectName: "logoImage"
            anchors.top: parent.top
            anchors.left: parent.left
            anchors.margins: 35
            width: 140
            height: 35
            source: "/images/Images/cvn-tembra.svg"
            sourceSize: Qt.size(140, 35)
            fillMode: Image.PreserveAspectFit
            horizontalAlignment: Image.AlignLeft
        }

        Text {
            id: titleText
            objectName: "titleText"
            anchors.top: logoImage.bottom
            anchors.topMargin: 25
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("Tembra Login")
            font.family: poppinsSemiBold.name
            font.weight: Font.DemiBold
            font.pixelSize: 30
            horizontalAlignment: Text.AlignHCenter
        }

        TextField {
            id: emailField
            objectName: "emailField"
            anchors.top: titleText.bottom
            anchors.topMargin: 25
            anchors.horizontalCenter: parent.horizontalCenter
            width: 200
            height: 40
            placeholderText: qsTr("Email")
            placeholderTextColor: "#d2d2d2"
            font.family: poppinsRegular.name
            font.pixelSize: 12
            selectByMouse: true
            KeyNavigation.tab: passwordField
            background: Rectangle {
                radius: 5
                border.width: 2
                border.color: emailField.activeFocus ? "#0040ff" : "#e8e8e8"
            }
        }

        TextField {
            id: passwordField
            objectName: "passwordField"
            anchors.top: emailField.bottom
            anchors.topMargin: 12
            anchors.horizontalCenter: parent.horizontalCenter
            width: 200
            height: 40
            placeholderText: qsTr("Password")
            placeholderTextColor: "#d2d2d2"
            echoMode: TextInput.Password
            font.family: poppinsRegular.name
            font.pixelSize: 12
            selectByMouse: true
            KeyNavigation.tab: emailField
            background: Rectangle {
                radius: 5
                border.width: 2
                border.color: passwordField.activeFocus ? "#0040ff" : "#e8e8e8"
            }
            // Return and the keypad's Enter alike.
            onAccepted: loginItem.startLogin()
        }

        Item {
            id: buttonArea
            objectName: "buttonArea"
            anchors.top: passwordField.bottom
            anchors.topMargin: 12
            anchors.left: parent.left
            anchors.right: parent.right
            height: 100

            Rectangle {
                id: errorBanner
                objectName: "errorBanner"
                anchors.top: parent.top
                anchors.horizontalCenter: parent.horizontalCenter
                width: 200
                height: 32
                radius: 5
                color: "#ff9191"
                border.width: 2
                border.color: "#ea4848"
                opacity: 0

                Row {
                    anchors.centerIn: parent
                    spacing: 8
                    Image {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 12
                        height: 12
                        source: "vectors/Vectors/cvn-close-r.svg"
                        sourceSize: Qt.size(12, 12)
                    }
                    Text {
                        id: errorBannerText
                        objectName: "errorBannerText"
                        anchors.verticalCenter: parent.verticalCenter
                        text: qsTr("Wrong credentials")
                        color: "#800000"
                        font.family: poppinsRegular.name
                        font.pixelSize: 12
                    }
                }
            }

            Button {
                id: loginButton
                objectName: "loginButton"
                anchors.top: errorBanner.bottom
                anchors.topMargin: 16
                anchors.horizontalCenter: parent.horizontalCenter
                width: 120
                height: 40
                hoverEnabled: true
                property real textOffset: 0

                background: Rectangle {
                    radius: 8
                    color: loginButton.hovered ? "#0000ff" : "#0040ff"
                    Behavior on color { ColorAnimation { duration: 200 } }
                }
                contentItem: Item {
                    clip: true
                    Text {
                        id: loginButtonText
                        objectName: "loginButtonText"
                        anchors.horizontalCenter: parent.horizontalCenter
                        y: (parent.height - height) / 2 + loginButton.textOffset
                        text: qsTr("Login")
                        color: "white"
                        font.family: poppinsRegular.name
                        font.pixelSize: 15
                    }
                }
                onClicked: loginItem.startLogin()
            }
        }

        Text {
            id: registerLink
            objectName: "registerLink"
            anchors.bottom: parent.bottom
            anchors.left: parent.left
            anchors.right: parent.right
            height: 60
            property bool highlighted: false
            text: qsTr("Register in Corvane")
            color: highlighted ? "#0040ff" : "black"
            font.family: poppinsRegular.name
            font.pixelSize: 11
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter

            MouseArea {
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onContainsMouseChanged: registerLink.highlighted = !registerLink.highlighted
                onClicked: Qt.openUrlExternally(webAddress + "/register-tembra")
            }
        }

        // Shown over the form while an attempt runs.
        Image {
            id: loadingImage
            objectName: "loadingImage"
            anchors.horizontalCenter: parent.horizontalCenter
            y: 80
            width: 150
            height: 150
            source: "images/Images/cvn-find.svg"
            sourceSize: Qt.size(150, 150)
            opacity: 0
        }

        Text {
            id: informativeText
            objectName: "informativeText"
            anchors.left: parent.left
            anchors.right: parent.right
            y: 250
            horizontalAlignment: Text.AlignHCenter
            font.family: poppinsRegular.name
            font.pixelSize: 12
            opacity: 0
        }
    }

    // Right pane: the slides.
    Rectangle {
        id: rightPane
        objectName: "rightPane"
        x: 375
        width: 375
        height: parent.height
        color: "#0040ff"
        clip: true

        Image {
            anchors.fill: parent
            source: "images/Images/cvn-bg-v.svg"
            sourceSize: Qt.size(450, 600)
            fillMode: Image.PreserveAspectCrop
            horizontalAlignment: Image.AlignRight
        }

        SwipeView {
            id: slideView
            objectName: "slideView"
            anchors.fill: parent
            clip: true

            Slide {
                objectName: "slide1"
                image: "/images/Images/cvn-slide1.svg"
                heading: qsTr("Privacy.")
                body: qsTr("We cipher your messages directly on your computer so that no one can read them except your recipient.")
            }
            Slide {
                objectName: "slide2"
                image: "/images/Images/cvn-slide2.svg"
                heading: qsTr("Encryption.")
                body: qsTr("Your files are encrypted before they are sent and decrypted only when they are received.")
            }
            Slide {
                objectName: "slide3"
                image: "/images/Images/cvn-slide3.svg"
                heading: qsTr("Work faster.")
                body: qsTr("Our application is designed to be easy to use. Keep your data organised: contacts, inboxes... There's always a place for every message.")
            }
        }

        Timer {
            id: slideTimer
            objectName: "slideTimer"
            interval: 6000
            repeat: true
            running: true
            onTriggered: slideView.currentIndex = (slideView.currentIndex + 1) % 3
        }
    }

    // Button text: slide out downwards, change, slide in from above.
    SequentialAnimation {
        id: buttonTextAnimation
        ParallelAnimation {
            NumberAnimation { target: loginButtonText; property: "opacity"; to: 0; duration: 200 }
            NumberAnimation { target: loginButton; property: "textOffset"; to: 20; duration: 200 }
        }
        ScriptAction {
            script: {
                loginButtonText.text = qsTr("Loading...")
                loginButton.textOffset = -20
            }
        }
        ParallelAnimation {
            NumberAnimation { target: loginButtonText; property: "opacity"; to: 1; duration: 200 }
            NumberAnimation { target: loginButton; property: "textOffset"; to: 0; duration: 200 }
        }
    }

    SequentialAnimation {
        id: waitingAnimation
        ParallelAnimation {
            NumberAnimation { target: emailField; property: "opacity"; to: 0; duration: 200 }
            NumberAnimation { target: passwordField; property: "opacity"; to: 0; duration: 200 }
        }
        NumberAnimation { target: loadingImage; property: "opacity"; to: 1; duration: 200 }
    }

    SequentialAnimation {
        id: informativeAnimation
        ScriptAction { script: informativeText.text = qsTr("Validating user...") }
        NumberAnimation { target: informativeText; property: "opacity"; from: 0; to: 1; duration: 200 }
        PauseAnimation { duration: 2000 }
        NumberAnimation { target: informativeText; property: "opacity"; to: 0; duration: 200 }
        ScriptAction { script: informativeText.text = qsTr("We are making the first run...") }
        NumberAnimation { target: informativeText; property: "opacity"; to: 1; duration: 200 }
        PauseAnimation { duration: 5000 }
        NumberAnimation { target: informativeText; property: "opacity"; to: 0; duration: 200 }
        ScriptAction { script: informativeText.text = qsTr("Fetching a lot of data...") }
        NumberAnimation { target: informativeText; property: "opacity"; to: 1; duration: 200 }
        PauseAnimation { duration: 60000 }
        NumberAnimation { target: informativeText; property: "opacity"; to: 0; duration: 200 }
        ScriptAction { script: informativeText.text = qsTr("Almost done...") }
        NumberAnimation { target: informativeText; property: "opacity"; to: 1; duration: 200 }
    }

    SequentialAnimation {
        id: resetAnimation
        ParallelAnimation {
            NumberAnimation { target: loadingImage; property: "opacity"; to: 0; duration: 200 }
            NumberAnimation { target: emailField; property: "opacity"; to: 1; duration: 200 }
            NumberAnimation { target: passwordField; property: "opacity"; to: 1; duration: 200 }
        }
        ParallelAnimation {
            NumberAnimation { target: loginButtonText; property: "opacity"; to: 0; duration: 200 }
            NumberAnimation { target: loginButton; property: "textOffset"; to: 20; duration: 200 }
        }
        ScriptAction {
            script: {
                loginButtonText.text = qsTr("Login")
                loginButton.textOffset = -20
            }
        }
        ParallelAnimation {
            NumberAnimation { target: loginButtonText; property: "opacity"; to: 1; duration: 200 }
            NumberAnimation { target: loginButton; property: "textOffset"; to: 0; duration: 200 }
        }
    }

    NumberAnimation { id: bannerInAnimation; target: errorBanner; property: "opacity"; from: 0; to: 1; duration: 200 }
    NumberAnimation { id: bannerOutAnimation; target: errorBanner; property: "opacity"; from: 1; to: 0; duration: 200 }

    Drawer {
        id: twoFactorDrawer
        objectName: "twoFactorDrawer"
        edge: Qt.RightEdge
        width: 375
        height: loginItem.height
        // Opened only by the controller's request for a code, never by a swipe.
        dragMargin: 0
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
        background: Rectangle { color: "white" }

        // Closing without a code would leave the form disabled in its waiting state.
        onClosed: {
            if (!loginItem.codeSent)
                loginItem.resetForm()
        }

        Image {
            id: drawerCloseIcon
            objectName: "drawerCloseIcon"
            anchors.top: parent.top
            anchors.right: parent.right
            anchors.margins: 20
            width: 20
            height: 20
            source: "vectors/Vectors/cvn-close.svg"
            sourceSize: Qt.size(20, 20)
            MouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: twoFactorDrawer.close()
            }
        }

        Column {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.margins: 35
            anchors.verticalCenter: parent.verticalCenter
            spacing: 15

            Text {
                id: drawerTitle
                objectName: "drawerTitle"
                width: parent.width
                text: qsTr("Two-Factor Authentication")
                wrapMode: Text.WordWrap
                font.family: poppinsSemiBold.name
                font.weight: Font.DemiBold
                font.pixelSize: 24
            }
            Text {
                width: parent.width
                text: qsTr("Check your TOTP Generator application and enter a new six-digit code.")
                wrapMode: Text.WordWrap
                font.family: poppinsRegular.name
                font.pixelSize: 10
            }
            TextField {
                id: codeField
                objectName: "codeField"
                width: parent.width
                height: 50
                maximumLength: 6
                validator: IntValidator { bottom: 0; top: 999999 }
                inputMethodHints: Qt.ImhDigitsOnly
                horizontalAlignment: TextInput.AlignHCenter
                color: "#0040ff"
                font.family: poppinsSemiBold.name
                font.weight: Font.DemiBold
                font.pixelSize: 20
                selectByMouse: true
                background: Rectangle {
                    color: "#E7EDFF"
                    border.width: 3
                    border.color: "#0040ff"
                    radius: 5
                }
                onTextEdited: {
                    codeButton.enabled = text.length === 6
                    codeButton.opacity = codeButton.enabled ? 1 : 0.3
                }
            }
            Item {
                width: 1
                height: 150 - parent.spacing * 2
            }
            Button {
                id: codeButton
                objectName: "codeButton"
                width: parent.width
                height: 30
                enabled: false
                opacity: 0.3
                hoverEnabled: true
                background: Rectangle {
                    radius: 8
                    color: codeButton.hovered ? "#0000ff" : "#0040ff"
                    Behavior on color { ColorAnimation { duration: 200 } }
                }
                contentItem: Text {
                    text: qsTr("Login")
                    color: "white"
                    font.family: poppinsRegular.name
                    font.pixelSize: 13
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                onClicked: {
                    loginItem.codeSent = true
                    twoFactorDrawer.close()
                    loginWindow.onLogin2FAClicked(codeField.text)
                }
            }
        }
    }

    CorvanePopup {
        id: blockedPopup
        objectName: "blockedPopup"
        pTitle: qsTr("Account Blocked")
        pText: qsTr("If you want to continue using our services, please complete your invoicing settings in our website.")
        pAcceptText: qsTr("Activate")
        onAccept: loginWindow.onActivateLoginClicked(true)
        onCancel: loginWindow.onActivateLoginClicked(false)
    }

    // Error toast, parked just below the bottom edge.
    Rectangle {
        id: toast
        objectName: "toast"
        width: parent.width
        height: 40
        y: loginItem.height
        z: 100
        color: "#ea4848"

        Text {
            id: toastText
            objectName: "toastText"
            anchors.fill: parent
            color: "white"
            font.family: poppinsRegular.name
            font.pixelSize: 13
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            wrapMode: Text.WordWrap
        }
    }

    SequentialAnimation {
        id: toastAnimation
        NumberAnimation { target: toast; property: "y"; to: loginItem.height - 40; duration: 200 }
        PauseAnimation { duration: 4000 }
        NumberAnimation { target: toast; property: "y"; to: loginItem.height; duration: 200 }
    }
}
