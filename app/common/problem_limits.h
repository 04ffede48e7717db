// app/common — small pieces every folder may use: calendar time and its formatting
// (date_time.h), JSON text for the command-line reports (json_text.h) and the limits of a stored
// problem (below). Nothing here depends on another folder.
//
// The limits every stored problem keeps, shared by the trainer that plays it, the editor that
// records it and the SGF import that brings it in.
#pragma once

namespace goramina {

// The continuations the trainer can offer at one sequence end.
constexpr int kMaxContinuations = 10;
// The moves a board records in one line (its history): one per point of the board.
constexpr int kMaxHistory = 361;

}  // namespace goramina
