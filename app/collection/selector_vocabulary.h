// The texts of the three selectors of the problem list, item 0 first, in UTF-8. The window
// fills its combo boxes from these; searching and storing compare against them.
#pragma once

#include <array>
#include <string_view>

namespace goramina {

// Item 0 of both category selectors: "any" when searching, stored literally when saved.
inline constexpr std::string_view kAnyCategory = "全て";
// Item 0 of the mark selector: stored as an empty mark.
inline constexpr std::string_view kNoMark = "なし";

// Texts the selectors show before start-up (or the user) selects an item.
inline constexpr std::string_view kMajorCategoryCaption = "大分類";
inline constexpr std::string_view kMinorCategoryCaption = "小分類";
inline constexpr std::string_view kMarkCaption = "記号";

// ComboBox1: major category.
inline constexpr std::array<std::string_view, 23> kMajorCategories = {
    "全て",       "活きる",     "石を取る",     "抉（えぐ）る", "抑え込む", "形を崩す",
    "利かす",     "根拠を奪う", "捌（さば）く", "地を荒す",     "整形する", "攻め合う",
    "先手を取る", "脱出する",   "働いて受ける", "封鎖する",     "分断する", "眼を取る",
    "眼を作る",   "寄せる",     "連絡する",     "その他",       "詰碁"};

// ComboBox2: minor category.
inline constexpr std::array<std::string_view, 48> kMinorCategories = {
    "全て",       "アテ",     "アテコミ", "一間トビ",   "ウチカキ", "大ゲイマ",   "オキ",
    "オサエ",     "オシ",     "カカエ",   "カケ",       "カケツギ", "カタツギ",   "キリ",
    "キリコミ",   "グズミ",   "ケイマ",   "ケイマガケ", "コウ",     "コスミ",     "コスミツケ",
    "サガリ",     "ツギ",     "ツケ",     "ツケギリ",   "ツケコシ", "デ",         "トビサガリ",
    "トビツケ",   "二段バネ", "ノゾキ",   "ノビ",       "ハイ",     "ハサミツケ", "ハナツケ",
    "ハネ",       "ハネコミ", "ハネダシ", "ハラヅケ",   "ヒキ",     "ブツカリ",   "ヘコミ",
    "ホウリコミ", "マガリ",   "眼持ち",   "両バネ",     "ワリコミ", "その他"};

// ComboBox3: mark.
inline constexpr std::array<std::string_view, 6> kMarks = {"なし", "○", "△", "□", "×", "？"};

}  // namespace goramina
