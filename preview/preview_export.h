#pragma once
// Saving a preview as a new workbook: every previewed sheet becomes a sheet of a clean BIFF8 file
// written by the workbook library, every cell text is put at its row and column. Only texts are
// exported (no formats, widths or merges).

#include <string>
#include <vector>

#include "preview/preview_workbook.h"

namespace tabulon {

enum class SavePreviewResult { Saved, NothingToSave, WriteFailed };

// Nothing is written when there is no sheet or no cell with a text (NothingToSave).
SavePreviewResult SavePreview(const PreviewContent& content, const std::string& path);

// The sheet names the export gives: the previewed name where it is usable (not empty, at most 255
// characters, not already given to an earlier sheet, ignoring the case of a-z); otherwise
// "Sheet<n>" with the first free n from the sheet's own number on.
std::vector<std::u16string> ExportSheetNames(const PreviewContent& content);

// The save dialog's rule: ".xls" is appended unless the path already ends in it (any case).
std::string WithXlsExtension(const std::string& path);

}  // namespace tabulon
