#include "LogTime.h"

#include <algorithm>

namespace {

// The position of the first run of field letter `field` outside quoted
// text, and its length; -1 when there is none.
qsizetype FindField(const QString& format, QChar field, qsizetype* length) {
  bool quoted = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    if (format[i] == QLatin1Char('\'')) quoted = !quoted;
    if (quoted || format[i] != field) continue;
    *length = 1;
    while (i + *length < format.size() && format[i + *length] == field) ++*length;
    return i;
  }
  return -1;
}

// What stands between the hours and the minutes, when it is a plain mark
// (":" or "."); ":" otherwise.
QString MinuteSeparator(const QString& format, qsizetype minutes) {
  qsizetype start = minutes;
  while (start > 0 && format[start - 1] != QLatin1Char('h') &&
         format[start - 1] != QLatin1Char('H'))
    --start;
  const QString between = format.mid(start, minutes - start);
  const bool plain = start > 0 && !between.isEmpty() && between.size() <= 2 &&
                     std::none_of(between.begin(), between.end(), [](QChar c) {
                       return c.isLetterOrNumber() || c == QLatin1Char('\'');
                     });
  return plain ? between : QStringLiteral(":");
}

// The locale's short time format with the seconds added after the minutes,
// behind the mark that stands between hours and minutes.
QString LongTimeFormat(const QLocale& locale) {
  QString format = locale.timeFormat(QLocale::ShortFormat);
  qsizetype length = 0;
  if (FindField(format, QLatin1Char('s'), &length) >= 0) return format;
  const qsizetype minutes = FindField(format, QLatin1Char('m'), &length);
  if (minutes < 0) return format;
  format.insert(minutes + length, MinuteSeparator(format, minutes) + QStringLiteral("ss"));
  return format;
}

}  // namespace

QString LogTimeText(const QLocale& locale, const QDateTime& when) {
  return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(when.time(), LongTimeFormat(locale));
}
