#include "widgets/ui_font.h"

#include <QStringList>

namespace goramina {

void InstallJapaneseFontSubstitutes() {
  const QString windowsFamily = QString::fromUtf8(kWindowsUiFamily);
  if (!QFont::substitutes(windowsFamily).isEmpty()) return;
  QFont::insertSubstitutions(windowsFamily,
                             {QString::fromUtf8(kJapaneseUiFamily), QStringLiteral("IPAGothic")});
}

QFont UiFont(int pixelHeight) {
  InstallJapaneseFontSubstitutes();
  QFont font;
  font.setFamilies({QString::fromUtf8(kJapaneseUiFamily), QStringLiteral("IPAGothic"),
                    QString::fromUtf8(kWindowsUiFamily)});
  font.setPixelSize(pixelHeight > 0 ? pixelHeight : kUiFontPixelHeight);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

}  // namespace goramina
