// The look every window of the program shares.
#pragma once

#include <QFont>
#include <QString>
#include <string>

class QWidget;

namespace zembrat::app {

// The application title: the main window's caption and every message box's.
inline const QString kApplicationTitle = QStringLiteral("Zembrat");

// Call before the application object exists. The windows are laid out in pixels: they keep
// that layout at every text size of the screen (no scaling by its dots per inch or by the
// desktop's per-screen factors, fonts and style metrics at 96 dots per inch). QT_SCALE_FACTOR
// is left to whoever sets it on purpose.
void KeepPixelLayout();

// "ＭＳ Ｐゴシック" at the given pixel height, falling back to IPAPGothic where it is missing.
QFont FormFont(int pixelSize);

// The form font (12 pixels) and a background in the button-face colour.
void ApplyFormLook(QWidget& window);

// A string of the file system (bytes in the locale's encoding) and back.
std::string ToNative(const QString& text);
QString FromNative(const std::string& text);

}  // namespace zembrat::app
