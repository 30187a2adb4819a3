#pragma once
// The sortable list's ordering rules, shared by the control (a few rows, on
// the window's thread) and by the background sort of long lists:
// a value of digits only compares as a number, dd/mm/yyyy as a date, anything
// else as locale-aware, case-sensitive text; only the first value of a
// comparison decides which rule applies. Those rules are no strict order, so
// the order of a sort is the one a stable bottom-up merge gives, always the same.
// Thread-safe.
#include <QString>
#include <QStringView>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

// <0, 0, >0 for a before b in the given direction.
int CompareCells(QStringView a, QStringView b, bool ascending);
bool IsDateText(QStringView text);
int CompareDateTexts(QStringView a, QStringView b);
// The leading number a C runtime would read (blanks, sign, digits), saturating.
qint64 LeadingNumber(QStringView text);

// The UTF-8 text of the sorted column for a row of the list's storage.
using SortCellReader = std::function<std::string_view(uint32_t row)>;

// The rows of current (storage rows, in the order shown) in the order a sort
// by that column gives: exactly what comparing cell by cell with CompareCells
// in the same merge would give, with each cell read once. Empty when stop was raised.
std::vector<uint32_t> SortedRows(const std::vector<uint32_t>& current, const SortCellReader& cell, bool ascending,
                                 const std::atomic<int>* stop = nullptr);
