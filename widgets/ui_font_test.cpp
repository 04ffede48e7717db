#include "widgets/ui_font.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QString>

#include "widgets/toolkit_color.h"

namespace goramina {
namespace {

TEST(UiFont, WindowsGothicNameRendersInTheIpaGothic) {
  InstallJapaneseFontSubstitutes();
  InstallJapaneseFontSubstitutes();  // a second call must not stack substitutes
  const QString windows = QString::fromUtf8(kWindowsUiFamily);
  EXPECT_EQ(QFont::substitutes(windows).size(), 2);
  EXPECT_EQ(QFontInfo(QFont(windows)).family(), QString::fromUtf8(kJapaneseUiFamily));
  EXPECT_EQ(QFontInfo(UiFont()).family(), QString::fromUtf8(kJapaneseUiFamily));
  EXPECT_EQ(UiFont().pixelSize(), kUiFontPixelHeight);
}

TEST(UiFont, HasGlyphsForEveryButtonCaptionOfTheWindow) {
  const QFontMetrics metrics(UiFont());
  const QString captions = QString::fromUtf8(
      "問題登録問題削除手順削除登録要求正手順登録悪手順登録解答表示1手進む１手戻す１手順戻す"
      "クリア分類編集ヒント表示キャンセル問題検索全問表示");
  for (const QChar c : captions) {
    EXPECT_TRUE(metrics.inFont(c)) << "no glyph for U+" << QString(c).toStdString();
  }
}

TEST(ToolkitColor, PackedValuesHaveRedInTheLowByte) {
  struct Case {
    std::uint32_t packed;
    QColor color;
  };
  const Case cases[] = {
      {8576250, QColor(250, 220, 130)},
      {12189570, QColor(130, 255, 185)},
      {8421504, QColor(128, 128, 128)},
      {16773360, QColor(240, 240, 255)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ColorFromPacked(c.packed), c.color) << c.packed;
    EXPECT_EQ(PackedFromColor(c.color), c.packed);
  }
  EXPECT_EQ(ColorFromPacked(0xFF000000u | 8576250), QColor(250, 220, 130)) << "high byte ignored";
}

}  // namespace
}  // namespace goramina
