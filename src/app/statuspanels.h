// The four panels of the main window's status bar: time of day, mode, port
// state and file. Each panel's text is its value; its caption is its
// description for a screen reader.
#pragma once

#include <QString>
#include <array>

class QLabel;
class QStatusBar;
class QTime;

namespace mkpt {

// Makes the panels in a bold bar; their widths are the window's (80, 100,
// 400 and at least 50 pixels), wider where the font needs more.
std::array<QLabel*, 4> CreateStatusPanels(QStatusBar* bar);

// A time of day in the system's long time format, without the time zone,
// which the panel has no room for.
QString StatusTimeText(const QTime& time);

}  // namespace mkpt
