#include "app/go/go_position.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace goramina {

void TGoPosition::CheckPoint(int point) const {
  if (!IsBoardPoint(point))
    throw std::out_of_range("Board point " + std::to_string(point) + " is outside 1..361");
}

TColour TGoPosition::At(int point) const {
  CheckPoint(point);
  return ColourOfCode(codes_[point]);
}

int TGoPosition::Prisoners(TColour capturer) const {
  return capturer == TColour::kBlack   ? prisonersOfBlack_
         : capturer == TColour::kWhite ? prisonersOfWhite_
                                       : 0;
}

TLegality TGoPosition::Legality(TColour colour, int point) const {
  return MoveLegality(codes_, colour, point, ko_);
}

TLegality TGoPosition::Play(TColour colour, int point) {
  const TLegality verdict = Legality(colour, point);
  if (verdict != TLegality::kLegal) return verdict;
  return Apply(colour, point, verdict);
}

TLegality TGoPosition::PlayAsStored(TColour colour, int point) {
  CheckPoint(point);
  return Apply(colour, point, Legality(colour, point));
}

TLegality TGoPosition::Apply(TColour colour, int point, TLegality verdict) {
  TPlayedMove move;
  move.colour = colour;
  move.point = point;
  move.replaced = ColourOfCode(codes_[point]);
  move.captured = CapturesOf(codes_, colour, point);
  move.koBefore = ko_;
  move.toPlayBefore = toPlay_;
  codes_[point] = CodeOf(colour);
  for (int q : move.captured) codes_[q] = 0;
  (colour == TColour::kBlack ? prisonersOfBlack_ : prisonersOfWhite_) +=
      static_cast<int>(move.captured.size());
  ko_ = KoAfter(codes_, point, move.captured);
  toPlay_ = Opponent(colour);
  moves_.push_back(std::move(move));
  return verdict;
}

bool TGoPosition::TakeBack() {
  if (moves_.empty()) return false;
  const TPlayedMove move = std::move(moves_.back());
  moves_.pop_back();
  const std::int32_t capturedCode = CodeOf(Opponent(move.colour));
  for (int q : move.captured) codes_[q] = capturedCode;
  (move.colour == TColour::kBlack ? prisonersOfBlack_ : prisonersOfWhite_) -=
      static_cast<int>(move.captured.size());
  codes_[move.point] = CodeOf(move.replaced);
  ko_ = move.koBefore;
  toPlay_ = move.toPlayBefore;
  return true;
}

void TGoPosition::AddStone(TColour colour, int point) {
  CheckPoint(point);
  if (colour == TColour::kNone) throw std::invalid_argument("A set-up stone needs a colour");
  codes_[point] = CodeOf(colour);
  ko_ = {};
}

}  // namespace goramina
