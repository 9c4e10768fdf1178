#pragma once

#include <QMap>
#include <QObject>
#include <QSettings>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

#include "ui/main_window.h"

// The Qt Test classes of this program register themselves; main.cpp runs each in turn.
namespace model_tests {

using Factory = std::function<std::unique_ptr<QObject>()>;
std::vector<Factory>& registry();

template <typename Test>
struct Registration {
    Registration() {
        registry().push_back([] { return std::unique_ptr<QObject>(new Test); });
    }
};

// A window whose settings go to a temporary folder, so no test reads or writes the user's.
class WindowFixture {
public:
    WindowFixture();
    ~WindowFixture();
    MainWindow& window() { return *window_; }

private:
    QTemporaryDir folder_;
    std::unique_ptr<MainWindow> window_;
};

// The names of the window's notification and request signals in the order they were emitted,
// with their arguments ("reloadSentRecords", "deleteContact(7)").
class SignalLog : public QObject {
public:
    explicit SignalLog(MainWindow& window);
    QStringList entries;

private:
    void record(const QString& name, const QStringList& arguments = {});
};

// A small account, filed the way the tree walk files it:
//   inboxes 10 "Work", 11 "Home"; contacts 30 "Ann", 31 "Bob";
//   outboxes 40 "Ann office" and 41 "Ann home" of Ann, 42 "Bob desk" of Bob;
//   received records 100 in Work, 101 in Home; sent records 200 in 40, 201 in 41 (to Ann), 202
//   in 42 (to Bob); files 900 and 901 of 100, 902 of 200.
void fillAccount(MainWindow& window);

// The model as the screens read it, one line per part ("sent" -> "200 Ann,201 Ann,202 Bob").
QMap<QString, QString> snapshot(const MainWindow& window);

using Operation = std::function<void(MainWindow&)>;
using Read = std::function<QString(MainWindow&)>;

}  // namespace model_tests

Q_DECLARE_METATYPE(model_tests::Operation)
Q_DECLARE_METATYPE(model_tests::Read)

#define TEMBRA_REGISTER_TEST(Test) static const model_tests::Registration<Test> registration##Test
