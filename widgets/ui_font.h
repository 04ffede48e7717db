// The user-interface font of the trainer.
//
// The window is designed around the Japanese proportional gothic "ＭＳ Ｐゴシック" at a cell
// height of 12 pixels. That face does not exist on Linux; the IPA proportional gothic has the
// same role and metrics close enough for the fixed control sizes of the main window, so the
// Windows family name is mapped to it and every caption renders in it.
#pragma once

#include <QFont>
#include <QString>

namespace goramina {

// The family that stands in for the Windows proportional gothic.
inline constexpr const char* kJapaneseUiFamily = "IPAPGothic";
// The Windows family name the window's design refers to.
inline constexpr const char* kWindowsUiFamily = "ＭＳ Ｐゴシック";
// Pixel height of the window's text.
inline constexpr int kUiFontPixelHeight = 12;

// Registers kJapaneseUiFamily (then the fixed-pitch IPA gothic) as the substitute for the
// Windows family name, so that QFont(kWindowsUiFamily) renders in the IPA face. Idempotent;
// needs a QGuiApplication.
void InstallJapaneseFontSubstitutes();

// The window's font: the IPA proportional gothic at the given pixel height, falling back to
// any installed Japanese gothic. Installs the substitutes first.
QFont UiFont(int pixelHeight = kUiFontPixelHeight);

}  // namespace goramina
