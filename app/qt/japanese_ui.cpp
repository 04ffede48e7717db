#include "app/qt/japanese_ui.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <utility>

namespace goramina {
namespace {

// The texts a Japanese Windows gives its standard buttons.
constexpr std::pair<QMessageBox::StandardButton, const char*> kButtonTexts[] = {
    {QMessageBox::Ok, "OK"},
    {QMessageBox::Cancel, "キャンセル"},
    {QMessageBox::Yes, "はい"},
    {QMessageBox::No, "いいえ"},
    {QMessageBox::YesToAll, "すべて はい"},
    {QMessageBox::NoToAll, "すべて いいえ"},
    {QMessageBox::Open, "開く"},
    {QMessageBox::Save, "保存"},
    {QMessageBox::SaveAll, "すべて保存"},
    {QMessageBox::Close, "閉じる"},
    {QMessageBox::Discard, "破棄"},
    {QMessageBox::Apply, "適用"},
    {QMessageBox::Reset, "リセット"},
    {QMessageBox::RestoreDefaults, "既定値に戻す"},
    {QMessageBox::Help, "ヘルプ"},
    {QMessageBox::Abort, "中止"},
    {QMessageBox::Retry, "再試行"},
    {QMessageBox::Ignore, "無視"},
};

// Loads one of Qt's catalogues for Japanese; the translator lives to the end of the process.
bool InstallCatalogue(const char* name) {
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (translator->load(QLocale(QLocale::Japanese, QLocale::Japan), name, "_",
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
      QCoreApplication::installTranslator(translator)) {
    return true;
  }
  delete translator;
  return false;
}

}  // namespace

bool InstallJapaneseTranslations() {
  static bool installed = false;
  static const QCoreApplication* installedFor = nullptr;
  if (QCoreApplication::instance() == nullptr) return false;
  if (installedFor == QCoreApplication::instance()) return installed;
  installedFor = QCoreApplication::instance();
  installed = InstallCatalogue("qtbase");
  InstallCatalogue("qtmultimedia");
  return installed;
}

void ApplyJapaneseButtonTexts(QMessageBox& box) {
  for (const auto& [button, text] : kButtonTexts) {
    if (QAbstractButton* shown = box.button(button)) shown->setText(QString::fromUtf8(text));
  }
}

}  // namespace goramina
