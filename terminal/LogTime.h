#pragma once
// The opening time in a session log's header: the date in the locale's short
// form and the time in its long form, as the desktop's clock shows them
// (2026/12/07 14:35:24 in a Japanese locale, 12/7/26 2:35:24 PM in an
// American one). The long time here is hours, minutes and seconds without a
// time zone: Qt's own long time format names the zone, and for some locales
// spells the units out (14時35分24秒), which no desktop clock shows.

#include <QDateTime>
#include <QLocale>
#include <QString>

QString LogTimeText(const QLocale& locale, const QDateTime& when);
