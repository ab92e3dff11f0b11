#include "app/ui_style.h"

#include <QCoreApplication>
#include <QFile>
#include <QPalette>
#include <QWidget>

namespace zembrat::app {

void KeepPixelLayout() {
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qunsetenv("QT_SCREEN_SCALE_FACTORS");  // what desktops set from their scale setting
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
}

QFont FormFont(int pixelSize) {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic")});
    font.setPixelSize(pixelSize);
    return font;
}

void ApplyFormLook(QWidget& window) {
    window.setFont(FormFont(12));
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
}

std::string ToNative(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

QString FromNative(const std::string& text) {
    return QFile::decodeName(QByteArray::fromStdString(text));
}

}  // namespace zembrat::app
