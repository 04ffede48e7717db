#include <algorithm>

#include "storage/collation.h"

namespace kura {

TLanguageStringList::TLanguageStringList(std::uint16_t languageId, std::uint16_t sortId)
    : FLanguageId(languageId), FSortId(sortId) {}

int TLanguageStringList::CompareItems(const std::string& a, const std::string& b,
                                      std::size_t length) const {
  if (length == 0) {
    return CompareLocaleStrings(FLanguageId, FSortId, a.c_str(), true, 0, b.c_str());
  }
  // A prefix compare reads `length` bytes of each; pad the copies so that a shorter string
  // ends in zeros instead of running past its end.
  std::string first = a.substr(0, length);
  std::string second = b.substr(0, length);
  first.resize(length, '\0');
  second.resize(length, '\0');
  return CompareLocaleStrings(FLanguageId, FSortId, first.c_str(), true, length, second.c_str());
}

void TLanguageStringList::SetSorted(bool sorted) {
  if (sorted && !FSorted) Sort();
  FSorted = sorted;
}

void TLanguageStringList::Sort() {
  std::stable_sort(
      FItems.begin(), FItems.end(),
      [this](const std::string& a, const std::string& b) { return CompareItems(a, b, 0) < 0; });
}

int TLanguageStringList::Add(std::string text) {
  if (!FSorted) {
    FItems.push_back(std::move(text));
    return Count() - 1;
  }
  int index = 0;
  if (Find(text, index)) {
    if (Duplicates == TDuplicates::dupIgnore) return index;
    if (Duplicates == TDuplicates::dupError) {
      throw EStringListError("String list does not allow duplicates");
    }
    // Accepted duplicates go after the equal strings already held.
    while (index < Count() && CompareItems(FItems[index], text, 0) == 0) ++index;
  }
  FItems.insert(FItems.begin() + index, std::move(text));
  return index;
}

bool TLanguageStringList::Find(std::string_view text, int& index) const {
  return FindPrefix(text, 0, index);
}

bool TLanguageStringList::FindPrefix(std::string_view text, std::size_t length, int& index) const {
  std::string wanted(text);
  int low = 0;
  int high = Count();
  while (low < high) {  // first item not less than the text
    int middle = low + (high - low) / 2;
    if (CompareItems(FItems[middle], wanted, length) < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  index = low;
  return low < Count() && CompareItems(FItems[low], wanted, length) == 0;
}

void TLanguageStringList::Delete(int index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("List index out of bounds");
  FItems.erase(FItems.begin() + index);
}

}  // namespace kura
