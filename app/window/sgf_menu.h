// The ファイル menu's SGF items on the main window: reading SGF files or a folder of them into
// the collection, and writing the shown problem or the whole collection to an SGF file. They
// run the import and export of app/sgf_exchange.h on the window's data module, with a file
// dialog, a progress box and a summary box through the toolkit.
#pragma once

namespace goramina {

void SgfImportClick();        // SGF読み込み…
void SgfImportFolderClick();  // SGFフォルダ読み込み…
void SgfExportClick();        // SGF書き出し…

}  // namespace goramina
