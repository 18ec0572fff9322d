#pragma once
// Printing a previewed workbook: an aligned text grid, CSV or JSON. Shared by every command that
// previews, whether its bytes come from a file or from a node of a loaded source.

#include <cstddef>
#include <cstdint>
#include <string>

#include "preview/preview_workbook.h"

namespace tabulon::cli {

enum class PreviewOutputFormat { Text, Csv, Json };

// Parses "text", "csv" or "json".
bool ParsePreviewOutputFormat(const std::string& name, PreviewOutputFormat& format);

// One sheet as a grid: a line with the sheet's number and name, a header of column letters, then one
// line per row from 1 to the last row with cells, each starting with its row number. Columns are as
// wide as their widest text (texts longer than 40 columns are cut with "…"); line breaks and other
// control characters show as spaces.
std::string PreviewSheetText(const PreviewContent& content, size_t sheetIndex);
// One sheet as CSV: rows from the first row to the last with cells, columns from A to the last with
// cells, fields quoted where they hold a comma, a quote or a line break.
std::string PreviewSheetCsv(const PreviewSheet& sheet);
// {"sheets": [{"name", "cells": [{"row", "column", "text"}]}]} with rows and columns from 0, cells in
// record order. `sheetIndex` selects one sheet; SIZE_MAX prints all of them.
std::string PreviewJson(const PreviewContent& content, size_t sheetIndex = SIZE_MAX);

// The column letters of a column from 0: A ... Z, AA ... IV ...
std::string ColumnLetters(uint32_t column);

// Previews `length` bytes read from `label` and prints them to stdout. `sheetNumber` counts from 1;
// 0 means the first sheet for text and CSV and all sheets for JSON. Returns the exit status: 0 when
// printed (also when no sheet was found, which is said), 1 when the sheet does not exist.
int PrintPreview(const uint8_t* data, size_t length, const std::string& label, PreviewOutputFormat format,
                 int sheetNumber);

}  // namespace tabulon::cli
