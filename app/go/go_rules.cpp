#include "app/go/go_rules.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace goramina {

namespace {

std::int32_t AbsCode(std::int32_t code) {
  return code < 0 ? -code : code;
}

// Breadth-first search of the string at `point`; its stones in `visited` and in the result.
std::vector<int> SearchString(const TPointCodes& codes, int point,
                              std::array<bool, kPointCount + 1>& visited) {
  std::vector<int> stones;
  if (!IsBoardPoint(point) || codes[point] == 0) return stones;
  const std::int32_t colour = AbsCode(codes[point]);
  stones.push_back(point);
  visited[point] = true;
  for (std::size_t head = 0; head < stones.size(); ++head) {
    for (int n : NeighbourPoints(stones[head])) {
      if (n == 0 || visited[n] || AbsCode(codes[n]) != colour) continue;
      visited[n] = true;
      stones.push_back(n);
    }
  }
  return stones;
}

}  // namespace

const char* LegalityReason(TLegality legality) {
  switch (legality) {
    case TLegality::kLegal:
      return "打てます";
    case TLegality::kOffBoard:
      return "盤の外には打てません";
    case TLegality::kOccupied:
      return "石のある点には打てません";
    case TLegality::kSuicide:
      return "自殺手になるので打てません";
    case TLegality::kKoRecapture:
      return "コウはすぐには取り返せません";
  }
  return "";
}

std::string LegalityText(TLegality legality) {
  return std::string(LegalityReason(legality)) + "。";
}

std::vector<int> StringAt(const TPointCodes& codes, int point) {
  std::array<bool, kPointCount + 1> visited{};
  std::vector<int> stones = SearchString(codes, point, visited);
  std::sort(stones.begin(), stones.end());
  return stones;
}

std::vector<int> LibertiesOf(const TPointCodes& codes, int point) {
  std::array<bool, kPointCount + 1> counted{};
  std::vector<int> liberties;
  for (int s : StringAt(codes, point)) {
    for (int n : NeighbourPoints(s)) {
      if (n == 0 || codes[n] != 0 || counted[n]) continue;
      counted[n] = true;
      liberties.push_back(n);
    }
  }
  std::sort(liberties.begin(), liberties.end());
  return liberties;
}

bool StringHasLiberty(const TPointCodes& codes, int point) {
  std::array<bool, kPointCount + 1> visited{};
  for (int s : SearchString(codes, point, visited)) {
    for (int n : NeighbourPoints(s))
      if (n != 0 && codes[n] == 0) return true;
  }
  return false;
}

std::vector<int> CapturesOf(const TPointCodes& codes, TColour colour, int point) {
  std::vector<int> taken;
  if (!IsBoardPoint(point) || colour == TColour::kNone) return taken;
  TPointCodes after = codes;
  after[point] = CodeOf(colour);
  const std::int32_t opponent = CodeOf(Opponent(colour));
  std::array<bool, kPointCount + 1> visited{};
  for (int n : NeighbourPoints(point)) {
    if (n == 0 || visited[n] || AbsCode(after[n]) != opponent) continue;
    std::vector<int> string = SearchString(after, n, visited);
    const bool free = std::any_of(string.begin(), string.end(), [&](int s) {
      const auto around = NeighbourPoints(s);
      return std::any_of(around.begin(), around.end(),
                         [&](int m) { return m != 0 && after[m] == 0; });
    });
    if (!free) taken.insert(taken.end(), string.begin(), string.end());
  }
  std::sort(taken.begin(), taken.end());
  return taken;
}

TKo KoAfter(const TPointCodes& codes, int point, const std::vector<int>& captured) {
  if (captured.size() != 1 || !IsBoardPoint(point)) return {};
  if (StringAt(codes, point).size() != 1) return {};
  const std::vector<int> liberties = LibertiesOf(codes, point);
  if (liberties.size() != 1 || liberties.front() != captured.front()) return {};
  return TKo{captured.front(), Opponent(ColourOfCode(codes[point]))};
}

TLegality MoveLegality(const TPointCodes& codes, TColour colour, int point, TKo ko) {
  if (colour == TColour::kNone) throw std::invalid_argument("A move needs a colour");
  if (!IsBoardPoint(point)) return TLegality::kOffBoard;
  if (codes[point] != 0) return TLegality::kOccupied;
  if (ko.point == point && ko.barred == colour) return TLegality::kKoRecapture;
  if (!CapturesOf(codes, colour, point).empty()) return TLegality::kLegal;
  TPointCodes after = codes;
  after[point] = CodeOf(colour);
  return StringHasLiberty(after, point) ? TLegality::kLegal : TLegality::kSuicide;
}

}  // namespace goramina
