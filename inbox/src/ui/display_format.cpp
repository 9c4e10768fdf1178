#include "ui/display_format.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cmath>

namespace display_format {
namespace {

const char* const kToday = QT_TRANSLATE_NOOP("MainWindow", "Today");
const char* const kDaysAgo = QT_TRANSLATE_NOOP("MainWindow", " days ago");
const char* const kMonthsAgo = QT_TRANSLATE_NOOP("MainWindow", " months ago");
const char* const kYearsAgo = QT_TRANSLATE_NOOP("MainWindow", " years ago");

const uint64_t kKilobyte = 1024;
const uint64_t kMegabyte = 1024 * kKilobyte;
const uint64_t kGigabyte = 1024 * kMegabyte;

const qint64 kDaysPerMonth = 30;
const qint64 kDaysPerYear = 360;

QString translated(const char* text) {
    return QCoreApplication::translate("MainWindow", text);
}

struct Unit {
    uint64_t size;
    const char* name;
};

// The thresholds are strictly greater than: 1024 bytes still read "1024 Bytes".
Unit unitFor(uint64_t bytes) {
    if (bytes > kGigabyte) return {kGigabyte, " GB"};
    if (bytes > kMegabyte) return {kMegabyte, " MB"};
    if (bytes > kKilobyte) return {kKilobyte, " KB"};
    return {1, " Bytes"};
}

}  // namespace

QString relativeDate(uint64_t date, const QDateTime& now) {
    // Read as a 32-bit second count, which covers dates up to 2106.
    const QDate day = QDateTime::fromSecsSinceEpoch(static_cast<uint32_t>(date)).toLocalTime().date();
    const qint64 days = day.daysTo(now.toLocalTime().date());
    // A clock behind the service's (or a date set ahead) must not read as thousands of years.
    if (days <= 0) return translated(kToday);
    if (days < kDaysPerMonth) return QString::number(days) + translated(kDaysAgo);
    if (days < kDaysPerYear) return QString::number(days / kDaysPerMonth) + translated(kMonthsAgo);
    return QString::number(days / kDaysPerYear) + translated(kYearsAgo);
}

QString sizeText(uint64_t bytes) {
    const Unit unit = unitFor(bytes);
    if (unit.size == 1) return QString::number(bytes) + QLatin1String(unit.name);
    const double quantity = static_cast<double>(bytes) / static_cast<double>(unit.size);
    const double raised = std::ceil(quantity * 100) / 100;
    return QString::number(raised, 'g', 6) + QLatin1String(unit.name);
}

QString storageText(const QString& bytes) {
    bool ok = false;
    const uint64_t count = bytes.toULongLong(&ok, 10);
    if (!ok) return QString();
    const Unit unit = unitFor(count);
    if (unit.size == 1) return QString::number(count) + QLatin1String(unit.name);
    return QString::number(static_cast<double>(count / unit.size), 'g', 6) + QLatin1String(unit.name);
}

QString storageRatio(uint64_t used, uint64_t total) {
    return QString::number(static_cast<double>(used) / static_cast<double>(total), 'g', 6);
}

}  // namespace display_format
