// Filter conditions written in the expression language: compiled against a cursor's table,
// analysed for the parts its indexes can answer, and evaluated into record bitmaps.
//
// COMPILING a filter text:
//   1. parse (engine error 10051, context "filter expression"); an empty text is refused
//      with "filter expression is empty";
//   2. bind to the cursor's table fields only; a result that is not boolean is refused
//      with "filter expression must be a boolean expression";
//   3. a comparison with the field on the right is turned around (5 < Qty: Qty > 5);
//   4. UPPER(field) compared with UPPER of other expressions marks the comparison
//      case-insensitive (served by a case-insensitive index); parts without fields are
//      evaluated once and become constants; = and <> with a string constant become compare
//      nodes when the case-insensitive option is set or the constant ends in "*" after
//      another character (the "*"s go and the characters before them are compared, unless
//      the no-partial-compare option keeps the asterisk literal); LIKE 'abc%' (one run of
//      "%" at the end, no other wildcard) becomes the compare node = 'abc' over 3 characters.
//
// ANALYSIS gives every node a level: 2 when indexes alone answer it, 1 for an AND with one
// such side (evaluated by reading only the records that side selected), 0 otherwise. A
// comparison of a field with a constant, IN and NOT IN of constants, BETWEEN and NOT BETWEEN
// of constants, IS [NOT] NULL, and TEXTSEARCH(...) = TRUE on a text-indexed field are
// served when an index starts with the field (ChooseIndex). A constant is served only when
// the field holds it exactly (INTEGER field > 2.5 is evaluated record by record).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "engine/filter.h"
#include "sql/exp_token.h"
#include "storage/index_text.h"

namespace kura {

class TDataCursor;

// Compiles a filter text for the cursor's table (10051 for every refusal).
std::unique_ptr<TFilterCondition> CompileFilterText(TDataCursor& cursor, std::string_view text,
                                                    const TFilterFlags& flags);
// A condition of a tree bound elsewhere (the SQL layer's WHERE) against the cursor's table
// fields; it is used as it is.
std::unique_ptr<TFilterCondition> MakeFilterCondition(TDataCursor& cursor, TExpTokenPtr tree);
// Answers a node to put in place of a node of a copied tree, or null to keep the copy.
using TNodeSubstitute = std::function<TExpTokenPtr(const TExpToken& node)>;
// The SQL layer's form of a bound condition before it is installed on a cursor: a copy of
// the tree (which must hold no sub-select) in which substitute may replace nodes (parameters
// and the columns of other tables by constants), then compiling steps 3 and 4 with the
// locale and flags.
TExpTokenPtr PreEvaluateCondition(const TExpToken& tree, TTableLocale locale,
                                  const TFilterFlags& flags, const TNodeSubstitute& substitute);
// Compiles the text and adds the filter to the cursor's list (inactive).
TFilter* AddFilterText(TDataCursor& cursor, std::string_view text, const TFilterFlags& flags);

// Text matching for TEXTSEARCH and TEXTOCCURS: both texts split into words as the text
// index splits them (a search word may end in "*": any word starting with it), search words
// that are stop words ignored, words compared upper-cased in the locale. TextSearch: every
// remaining search word occurs (false when none remains, as the index answers it);
// TextOccurs: the number of field words some search word matches.
bool TextSearch(std::string_view search, std::string_view fieldText, const TTextIndexParams& params,
                TTableLocale locale);
std::int32_t TextOccurs(std::string_view search, std::string_view fieldText,
                        const TTextIndexParams& params, TTableLocale locale);

}  // namespace kura
