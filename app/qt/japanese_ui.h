// The window speaks Japanese throughout, Qt's own dialogs and buttons included.
#pragma once

class QMessageBox;

namespace goramina {

// Installs Qt's Japanese translations (standard buttons, file dialogs, the edit menus of text
// boxes) in the running application, once per process. Answers whether they were found; the
// boxes of TQtToolkit are Japanese either way (ApplyJapaneseButtonTexts).
bool InstallJapaneseTranslations();

// Gives the standard buttons of a message box their Japanese texts (はい, いいえ, OK, キャンセル,
// 開く, 保存 …), whatever translations are installed. Call after setting the buttons.
void ApplyJapaneseButtonTexts(QMessageBox& box);

}  // namespace goramina
