import QtQuick 2.15
import QtQuick.Controls 2.15
import Tembra.MainWindow 1.0

// Root of the signed-in window: the toolbar on the left (menu, storage ring, user), the stack
// of pages, the toasts and popups, and the handlers of the window's notifications that
// concern the whole screen. Pages are pushed by key and reach the shell's objects by id.
Item {
    id: mainItem
    objectName: "mainItem"
    width: 950
    height: 600

    // The address the upgrade popups offer for a custom plan.
    readonly property string salesAddress: "sales@corvane.example"

    FontLoader { id: brandonBold; source: "fonts/Fonts/Brandon/brandon-bold.otf" }
    FontLoader { id: poppinsRegular; source: "fonts/Fonts/Poppins/Poppins-Regular.ttf" }
    FontLoader { id: poppinsSemiBold; source: "fonts/Fonts/Poppins/Poppins-SemiBold.ttf" }

    // The list screens are not there yet: their keys show the empty page.
    readonly property var pages: ({
        "ReceivedRecords": emptyPage,
        "SentRecords": emptyPage,
        "MyInboxes": emptyPage,
        "Contacts": emptyPage,
        "ProfilePage": emptyPage,
        "VersionLogPage": versionLogPage,
        "ThirdPartyPage": thirdPartyPage
    })

    // Pushes a new instance of the page named by key; earlier instances stay beneath.
    function loadPage(page) {
        var component = pages[page]
        if (component)
            stack.push(component)
    }

    readonly property var menuRects: [receivedRecordsRect, sentRecordsRect, myInboxesRect, contactsRect, exitRect]
    readonly property var menuButtons: [receivedRecordsButton, sentRecordsButton, myInboxesButton, contactsButton,
                                        exitButton]

    function setMenuEnabled(enabled) {
        for (var i = 0; i < menuButtons.length; ++i)
            menuButtons[i].enabled = enabled
    }

    // A click on a menu entry: its page unless it is the selected one (Logout asks first),
    // then it alone is selected.
    function menuClicked(rect, page) {
        if (page === "")
            logoutPopup.open()
        else if (!rect.selected)
            loadPage(page)
        for (var i = 0; i < menuRects.length; ++i)
            menuRects[i].color = menuRects[i] === rect ? "#0040ff" : "white"
        if (page !== "")
            settingsButton.pPrimaryColor = "white"
        paintUnreadBadge()
    }

    function settingsClicked() {
        if (settingsButton.pPrimaryColor !== "#e7edff") {
            settingsButton.pPrimaryColor = "#e7edff"
            loadPage("ProfilePage")
        }
        for (var i = 0; i < menuRects.length; ++i)
            menuRects[i].color = "white"
        paintUnreadBadge()
    }

    function paintUnreadBadge() {
        // Also called while the entries are still being made.
        if (!receivedCounterRect || !receivedCounterText)
            return
        var unread = mainWindow.getUnreadRecordCount() !== 0
        var light = receivedRecordsRect.selected || receivedRecordsRect.hovered ? "white" : "#e7edff"
        receivedCounterRect.color = unread ? "#0040ff" : light
        receivedCounterText.color = unread ? "white" : "#0040ff"
    }

    function showNotification(message, colour) {
        notificationToastText.text = message
        notificationToast.color = colour
        if (!notificationToastAnimation.running)
            notificationToastAnimation.start()
    }

    function showError(message) {
        showNotification(message, "#ea4848")
    }

    function hideProgress() {
        startProcessAnimation.stop()
        endProcessAnimation.start()
    }

    function userInitials(firstName, lastName) {
        return firstName.charAt(0) + lastName.charAt(0)
    }

    function fullName(firstName, lastName) {
        var name = firstName + " " + lastName
        return name.length > 32 ? name.substring(0, 32) + "..." : name
    }

    function resetProgress() {
        sendToastPercent.text = "0%"
        sendToastFiles.text = qsTr("File ") + "0" + qsTr(" of ") + "0"
        sendToastSizes.text = "0 Bytes" + qsTr(" of ") + "0 Bytes"
        sendToastRing.value = 0
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
                x: 150 + (parent.width - 150 - width) / 2
                anchors.verticalCenter: parent.verticalCenter
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

    Rectangle {
        id: toolBar
        objectName: "toolBar"
        width: 150
        height: parent.height
        color: "white"
        z: 10

        Item {
            id: logoArea
            objectName: "logoArea"
            width: parent.width
            height: 100

            Image {
                anchors.centerIn: parent
                width: 55
                height: 55
                sourceSize: Qt.size(55, 55)
                source: "images/Images/cvn-icon.svg"
            }
        }

        Column {
            id: menu
            objectName: "menu"
            y: logoArea.height
            x: 10
            width: parent.width - 20
            height: 260
            spacing: 15

            MenuEntry {
                id: receivedRecordsRect
                objectName: "receivedRecordsRect"
                width: parent.width
                label: qsTr("Received")
                releasedIcon: "vectors/Vectors/cvn-received-b.svg"
                selectedIcon: "vectors/Vectors/cvn-received-w.svg"
                color: "#0040ff"
                onColorChanged: mainItem.paintUnreadBadge()

                MouseArea {
                    id: receivedRecordsButton
                    objectName: "receivedRecordsButton"
                    anchors.fill: parent
                    hoverEnabled: true
                    enabled: false
                    onEntered: receivedRecordsRect.hoverIn()
                    onExited: receivedRecordsRect.hoverOut()
                    onClicked: mainItem.menuClicked(receivedRecordsRect, "ReceivedRecords")
                }

                Rectangle {
                    id: receivedCounterRect
                    objectName: "receivedCounterRect"
                    anchors.right: parent.right
                    anchors.rightMargin: 10
                    anchors.verticalCenter: parent.verticalCenter
                    width: 20
                    height: 20
                    radius: 10
                    color: "white"

                    Text {
                        id: receivedCounterText
                        objectName: "receivedCounterText"
                        anchors.centerIn: parent
                        text: "0"
                        textFormat: Text.PlainText
                        color: "#0040ff"
                        font.family: poppinsSemiBold.name
                        font.pixelSize: 8
                    }
                }
            }

            MenuEntry {
                id: sentRecordsRect
                objectName: "sentRecordsRect"
                width: parent.width
                label: qsTr("Sent")
                releasedIcon: "vectors/Vectors/cvn-send-b.svg"
                selectedIcon: "vectors/Vectors/cvn-send-w.svg"

                MouseArea {
                    id: sentRecordsButton
                    objectName: "sentRecordsButton"
                    anchors.fill: parent
                    hoverEnabled: true
                    enabled: false
                    onEntered: sentRecordsRect.hoverIn()
                    onExited: sentRecordsRect.hoverOut()
                    onClicked: mainItem.menuClicked(sentRecordsRect, "SentRecords")
                }
            }

            MenuEntry {
                id: myInboxesRect
                objectName: "myInboxesRect"
                width: parent.width
                label: qsTr("My Inboxes")
                releasedIcon: "vectors/Vectors/cvn-inbox-b.svg"
                selectedIcon: "vectors/Vectors/cvn-inbox-w.svg"

                MouseArea {
                    id: myInboxesButton
                    objectName: "myInboxesButton"
                    anchors.fill: parent
                    hoverEnabled: true
                    enabled: false
                    onEntered: myInboxesRect.hoverIn()
                    onExited: myInboxesRect.hoverOut()
                    onClicked: mainItem.menuClicked(myInboxesRect, "MyInboxes")
                }
            }

            MenuEntry {
                id: contactsRect
                objectName: "contactsRect"
                width: parent.width
                label: qsTr("Contacts")
                releasedIcon: "vectors/Vectors/cvn-contact-b.svg"
                selectedIcon: "vectors/Vectors/cvn-contact-w.svg"

                MouseArea {
                    id: contactsButton
                    objectName: "contactsButton"
                    anchors.fill: parent
                    hoverEnabled: true
                    enabled: false
                    onEntered: contactsRect.hoverIn()
                    onExited: contactsRect.hoverOut()
                    onClicked: mainItem.menuClicked(contactsRect, "Contacts")
                }
            }

            MenuEntry {
                id: exitRect
                objectName: "exitRect"
                width: parent.width
                label: qsTr("Logout")
                releasedIcon: "vectors/Vectors/cvn-exit-b.svg"
                selectedIcon: "vectors/Vectors/cvn-exit-w.svg"

                MouseArea {
                    id: exitButton
                    objectName: "exitButton"
                    anchors.fill: parent
                    hoverEnabled: true
                    enabled: false
                    onEntered: exitRect.hoverIn()
                    onExited: exitRect.hoverOut()
                    onClicked: mainItem.menuClicked(exitRect, "")
                }
            }
        }

        // The user's area, shown once the account has been read.
        Item {
            id: userArea
            objectName: "userArea"
            width: parent.width
            height: 225
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 20
            visible: false

            CircularProgressBar {
                id: storageRing
                objectName: "storageRing"
                anchors.horizontalCenter: parent.horizontalCenter
                size: 80
                lineWidth: 8
                primaryColor: "#0040ff"
                secondaryColor: "#e7edff"
                value: 0

                Text {
                    id: initialsText
                    objectName: "initialsText"
                    anchors.centerIn: parent
                    textFormat: Text.PlainText
                    color: "#0040ff"
                    font.family: poppinsSemiBold.name
                    font.weight: Font.DemiBold
                    font.pixelSize: 20
                }

                MouseArea {
                    id: storageRingArea
                    objectName: "storageRingArea"
                    anchors.fill: parent
                    hoverEnabled: true
                    onClicked: mainItem.settingsClicked()
                }
            }

            Rectangle {
                id: storageTooltip
                objectName: "storageTooltip"
                anchors.horizontalCenter: storageRing.horizontalCenter
                anchors.bottom: storageRing.top
                anchors.bottomMargin: 4
                width: storageTooltipText.implicitWidth + 12
                height: storageTooltipText.implicitHeight + 8
                radius: 4
                color: "black"
                z: 20
                opacity: storageRingArea.containsMouse ? 1 : 0
                visible: opacity > 0
                Behavior on opacity { NumberAnimation { duration: 200 } }

                Text {
                    id: storageTooltipText
                    objectName: "storageTooltipText"
                    anchors.centerIn: parent
                    textFormat: Text.PlainText
                    color: "white"
                    font.family: poppinsRegular.name
                    font.pixelSize: 10
                }
            }

            Text {
                id: userNameText
                objectName: "userNameText"
                anchors.top: storageRing.bottom
                anchors.topMargin: 10
                x: 10
                width: parent.width - 20
                height: 35
                textFormat: Text.PlainText
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
                maximumLineCount: 2
                elide: Text.ElideRight
                color: storageRingArea.containsMouse ? "#0040ff" : "black"
                font.family: poppinsSemiBold.name
                font.weight: Font.DemiBold
                font.pixelSize: 12
            }

            Text {
                id: userEmailText
                objectName: "userEmailText"
                anchors.top: userNameText.bottom
                anchors.topMargin: 4
                x: 10
                width: parent.width - 20
                textFormat: Text.PlainText
                horizontalAlignment: Text.AlignHCenter
                elide: Text.ElideRight
                color: "black"
                font.family: poppinsRegular.name
                font.pixelSize: 9
            }

            CorvaneButton {
                id: settingsButton
                objectName: "settingsButton"
                anchors.bottom: parent.bottom
                x: 10
                width: parent.width - 20
                height: 30
                pImageSource: "vectors/Vectors/cvn-settings.svg"
                pImageVisibility: true
                pText: qsTr("Settings")
                pPrimaryColor: "white"
                pHoverColor: "#e7edff"
                pRadius: 10
                onClicked: mainItem.settingsClicked()
            }
        }
    }

    // The create button; its drawers come with the compose screens.
    RoundButton {
        id: roundButton
        objectName: "roundButton"
        width: 50
        height: 50
        anchors.right: parent.right
        anchors.rightMargin: 30
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 30
        z: 10
        background: Rectangle {
            radius: 25
            color: "#0040ff"
        }
        contentItem: Image {
            sourceSize: Qt.size(20, 20)
            fillMode: Image.Pad
            source: "vectors/Vectors/cvn-plus-w.svg"
        }
    }

    // Information and error toast, parked just below the bottom edge.
    Rectangle {
        id: notificationToast
        objectName: "notificationToast"
        x: 150
        y: mainItem.height
        width: mainItem.width - 150
        height: 40
        z: 100
        color: "#0000ff"

        Text {
            id: notificationToastText
            objectName: "notificationToastText"
            anchors.fill: parent
            textFormat: Text.PlainText
            color: "white"
            font.family: poppinsRegular.name
            font.pixelSize: 13
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            wrapMode: Text.WordWrap
        }
    }

    SequentialAnimation {
        id: notificationToastAnimation
        NumberAnimation { target: notificationToast; property: "y"; to: mainItem.height - 40; duration: 200 }
        PauseAnimation { duration: 4000 }
        NumberAnimation { target: notificationToast; property: "y"; to: mainItem.height; duration: 200 }
    }

    // Progress of a send or a download.
    Rectangle {
        id: sendToast
        objectName: "sendToast"
        x: 150
        y: mainItem.height
        width: mainItem.width - 150
        height: 40
        z: 100
        color: "#0000ff"

        Row {
            anchors.fill: parent
            anchors.leftMargin: 10
            spacing: 10

            CircularProgressBar {
                id: sendToastRing
                objectName: "sendToastRing"
                anchors.verticalCenter: parent.verticalCenter
                size: 37
                lineWidth: 5
                primaryColor: "white"
                secondaryColor: "transparent"

                Text {
                    id: sendToastPercent
                    objectName: "sendToastPercent"
                    anchors.centerIn: parent
                    text: "0%"
                    color: "white"
                    font.family: poppinsRegular.name
                    font.pixelSize: 7
                }
            }

            Column {
                anchors.verticalCenter: parent.verticalCenter

                Text {
                    id: sendToastFiles
                    objectName: "sendToastFiles"
                    text: qsTr("File ") + "0" + qsTr(" of ") + "0"
                    color: "white"
                    font.family: poppinsRegular.name
                    font.pixelSize: 8
                }

                Text {
                    id: sendToastSizes
                    objectName: "sendToastSizes"
                    text: "0 Bytes" + qsTr(" of ") + "0 Bytes"
                    color: "white"
                    font.family: poppinsRegular.name
                    font.pixelSize: 11
                }
            }

            Text {
                id: sendToastText
                objectName: "sendToastText"
                anchors.verticalCenter: parent.verticalCenter
                textFormat: Text.PlainText
                color: "white"
                font.family: poppinsRegular.name
                font.pixelSize: 13
            }
        }
    }

    NumberAnimation {
        id: startProcessAnimation
        target: sendToast
        property: "y"
        to: mainItem.height - 40
        duration: 200
    }

    NumberAnimation {
        id: endProcessAnimation
        target: sendToast
        property: "y"
        to: mainItem.height
        duration: 200
    }

    Popup {
        id: logoutPopup
        objectName: "logoutPopup"
        width: 475
        height: 150
        anchors.centerIn: parent
        modal: true
        focus: true
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
        padding: 20

        background: Rectangle {
            radius: 10
            color: "white"
        }

        contentItem: Item {
            Column {
                anchors.left: parent.left
                anchors.right: parent.right
                spacing: 8

                Text {
                    text: qsTr("Logout")
                    font.family: poppinsSemiBold.name
                    font.weight: Font.DemiBold
                    font.pixelSize: 14
                }

                Text {
                    text: qsTr("Are you sure you want to log out?")
                    font.family: poppinsRegular.name
                    font.pixelSize: 10
                }
            }

            Row {
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                height: 35
                spacing: 10

                CorvaneButton {
                    id: logoutCancelButton
                    objectName: "logoutCancelButton"
                    width: 120
                    height: parent.height
                    pText: qsTr("Cancel")
                    pPrimaryColor: "black"
                    pHoverColor: "#0040ff"
                    pTextPrimaryColor: "white"
                    pTextHoverColor: "white"
                    onClicked: logoutPopup.close()
                }

                CorvaneButton {
                    id: logoutContinueButton
                    objectName: "logoutContinueButton"
                    width: 120
                    height: parent.height
                    pText: qsTr("Continue")
                    pImageSource: "vectors/Vectors/cvn-exit-w.svg"
                    pImageVisibility: true
                    pPrimaryColor: "#0040ff"
                    pHoverColor: "#0000ff"
                    pTextPrimaryColor: "white"
                    pTextHoverColor: "white"
                    onClicked: {
                        logoutPopup.close()
                        mainWindow.onLogoutButtonClicked()
                    }
                }
            }
        }
    }

    CorvanePopup {
        id: updatePopup
        objectName: "updatePopup"
        pTitle: qsTr("Update Tembra")
        pText: qsTr("Tembra has been updated.\nPlease restart the app when possible to enjoy the new version.")
        pAcceptText: qsTr("Update")
        onAccept: mainWindow.onUpdateClicked()
    }

    CorvanePopup {
        id: storagePopup
        objectName: "storagePopup"
        pTitle: qsTr("Upgrade your plan")
        pText: qsTr("You have used up all the storage in your plan. <b>The messages you send cannot be saved in your 'Sent' panel.</b> Please consider upgrading to our business plans or contact ")
               + "<a style=\"color:#0040ff\" href=\"mailto:" + mainItem.salesAddress + "\">" + mainItem.salesAddress + "</a>"
               + qsTr(" to customize a plan for you.")
        pAcceptText: qsTr("Send anyway")
        pCancelText: qsTr("Cancel")
        onAccept: mainWindow.onSendAnywayClicked()
        onCancel: mainItem.hideProgress()
    }

    CorvanePopup {
        id: transferLimitPopup
        objectName: "transferLimitPopup"
        pTitle: qsTr("Upgrade your plan")
        pText: qsTr("You have used up all the storage in your plan. <b>It means you cannot continue sending external emails.</b> Please consider upgrading to our business plans or contact ")
               + "<a style=\"color:#0040ff\" href=\"mailto:" + mainItem.salesAddress + "\">" + mainItem.salesAddress + "</a>"
               + qsTr(" to customize a plan for you.")
        pAcceptText: qsTr("Contact")
        pCancelText: qsTr("Cancel")
        onAccept: {
            Qt.openUrlExternally("mailto:" + mainItem.salesAddress + "?subject=" + qsTr("UPGRADE PLAN"))
            mainItem.hideProgress()
        }
        onCancel: mainItem.hideProgress()
    }

    Connections {
        target: mainWindow

        function onSystemError(errorType) {
            mainItem.hideProgress()
            mainItem.showError(qsTr("An error has occurred. Please check that your data is correct."))
        }

        function onError(errorType) {
            switch (errorType) {
            case -1:
                break
            case 3:
                mainItem.showError(qsTr("An inbox with the same name already exists."))
                break
            case 5:
                mainItem.showError(qsTr("We seem to be unable to connect you to Corvane. Please check your Internet connection."))
                mainItem.setMenuEnabled(false)
                break
            case 6:
                mainItem.setMenuEnabled(true)
                break
            case 7:
                mainItem.showError(qsTr("There's already a contact associated with this inbox address."))
                break
            case 8:
                mainItem.showError(qsTr("The authentication code entered is not correct."))
                break
            case 11:
                mainItem.showError(qsTr("Oops, it is not allowed to send folders..."))
                break
            case 13:
                mainItem.hideProgress()
                mainItem.showError(qsTr("Oops, it looks like your contact has no space in their inbox. The message could not be sent..."))
                break
            case 14:
                storagePopup.open()
                break
            case 15:
                transferLimitPopup.open()
                break
            case 16:
                mainItem.showError(qsTr("You are not allowed to make changes on this account (read only access)"))
                break
            default:
                mainItem.showError(qsTr("An error has occurred. Please check that your data is correct."))
                break
            }
        }

        function onReloadApplication() {
            mainItem.setMenuEnabled(true)
            userArea.visible = true
        }

        function onUpdateRecordTransferData(percentage, currentFile, totalFiles, currentSize, totalSize) {
            sendToastPercent.text = percentage + "%"
            sendToastFiles.text = qsTr("File ") + currentFile + qsTr(" of ") + totalFiles
            sendToastSizes.text = currentSize + qsTr(" of ") + totalSize
            sendToastRing.value = Number(percentage) / 100
        }

        function onProcessFinished(message) {
            mainItem.hideProgress()
            mainItem.showNotification(message, "#0000ff")
            mainItem.resetProgress()
        }

        function onUserLoaded(firstName, lastName) {
            initialsText.text = mainItem.userInitials(firstName, lastName)
            userNameText.text = mainItem.fullName(firstName, lastName)
        }

        function onPlanLoaded(plan, uStorage, tStorage, ratio) {
            var value = Number(ratio)
            if (value < 1) {
                storageRing.value = value
                storageRing.primaryColor = "#0040ff"
                initialsText.color = "#0040ff"
                var percentage = String(value * 100).substring(0, 4)
                storageTooltipText.text = uStorage + qsTr(" of ") + tStorage + " (" + percentage + "%)"
            } else {
                storageRing.value = 1
                storageRing.primaryColor = "red"
                initialsText.color = "red"
                storageTooltipText.text = tStorage + qsTr(" of ") + tStorage + " (100%)"
            }
        }

        function onEmailLoaded(email) {
            userEmailText.text = email
        }

        function onUpdateUnreadCount() {
            var count = mainWindow.getUnreadRecordCount()
            receivedCounterText.text = count > 99 ? "+99" : String(count)
            mainItem.paintUnreadBadge()
        }

        function onSendUpdateAlert() {
            if (!updatePopup.opened)
                updatePopup.open()
        }

        function onShowMessage(message) {
            mainItem.showNotification(message, "#0000ff")
        }
    }
}
