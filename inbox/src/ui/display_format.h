#pragma once

#include <QString>
#include <cstdint>

class QDateTime;

// The texts the main screens show for dates, sizes and storage figures; the screens do no
// formatting of their own.
namespace display_format {

// "Today", "N days ago", "N months ago" or "N years ago" (translated in the context
// "MainWindow") for a date in seconds since the epoch, counted in calendar days of the local
// time zone up to now. A date after today reads "Today".
QString relativeDate(uint64_t date, const QDateTime& now);

// Bytes, KB, MB or GB (of 1024) raised to two decimals: 1536 gives "1.5 KB".
QString sizeText(uint64_t bytes);

// The storage figure of a decimal byte count in whole units: "1610612736" gives "1 GB". Empty
// when the text is no unsigned decimal number.
QString storageText(const QString& bytes);

// used / total in the general format with 6 significant digits ("0.15").
QString storageRatio(uint64_t used, uint64_t total);

}  // namespace display_format
