#include "storage/locale_table.h"

#include <array>

namespace kura::collation_detail {
namespace {

// Code pages: 1252 Western, 1250 Central European, 1251 Cyrillic, 1253 Greek, 1254 Turkish,
// 1255 Hebrew, 1256 Arabic, 1257 Baltic, 1258 Vietnamese, 874 Thai; 932 for the ANSI entry,
// whose strings are Japanese. "Spanish (Castilian)" is the traditional Spanish sort.
constexpr std::array<TLocaleEntry, 99> kEntries{{
    {"ANSI Standard", 0x0000, "en-US", 932},
    {"Afrikaans", 0x0436, "af-ZA", 1252},
    {"Albanian", 0x041C, "sq-AL", 1250},
    {"Arabic (Saudi Arabia)", 0x0401, "ar-SA", 1256},
    {"Arabic (Iraq)", 0x0801, "ar-IQ", 1256},
    {"Arabic (Egypt)", 0x0C01, "ar-EG", 1256},
    {"Arabic (Libya)", 0x1001, "ar-LY", 1256},
    {"Arabic (Algeria)", 0x1401, "ar-DZ", 1256},
    {"Arabic (Morocco)", 0x1801, "ar-MA", 1256},
    {"Arabic (Tunisia)", 0x1C01, "ar-TN", 1256},
    {"Arabic (Oman)", 0x2001, "ar-OM", 1256},
    {"Arabic (Yemen)", 0x2401, "ar-YE", 1256},
    {"Arabic (Syria)", 0x2801, "ar-SY", 1256},
    {"Arabic (Jordan)", 0x2C01, "ar-JO", 1256},
    {"Arabic (Lebanon)", 0x3001, "ar-LB", 1256},
    {"Arabic (Kuwait)", 0x3401, "ar-KW", 1256},
    {"Arabic (U.A.E)", 0x3801, "ar-AE", 1256},
    {"Arabic (Bahrain)", 0x3C01, "ar-BH", 1256},
    {"Arabic (Qatar)", 0x4001, "ar-QA", 1256},
    {"Basque", 0x042D, "eu-ES", 1252},
    {"Belarusian", 0x0423, "be-BY", 1251},
    {"Bulgarian", 0x0402, "bg-BG", 1251},
    {"Catalan", 0x0403, "ca-ES", 1252},
    {"Croatian", 0x041A, "hr-HR", 1250},
    {"Czech", 0x0405, "cs-CZ", 1250},
    {"Danish", 0x0406, "da-DK", 1252},
    {"Dutch (Standard)", 0x0413, "nl-NL", 1252},
    {"Dutch (Belgian)", 0x0813, "nl-BE", 1252},
    {"English (USA)", 0x0409, "en-US", 1252},
    {"English (UK)", 0x0809, "en-GB", 1252},
    {"English (Australian)", 0x0C09, "en-AU", 1252},
    {"English (Canadian)", 0x1009, "en-CA", 1252},
    {"English (New Zealand)", 0x1409, "en-NZ", 1252},
    {"English (Irish)", 0x1809, "en-IE", 1252},
    {"English (South Africa)", 0x1C09, "en-ZA", 1252},
    {"English (Jamaica)", 0x2009, "en-JM", 1252},
    {"English (Caribbean)", 0x2409, "en-029", 1252},
    {"English (Belize)", 0x2809, "en-BZ", 1252},
    {"English (Trinidad)", 0x2C09, "en-TT", 1252},
    {"Estonian", 0x0425, "et-EE", 1257},
    {"Faeroese", 0x0438, "fo-FO", 1252},
    {"Farsi", 0x0429, "fa-IR", 1256},
    {"Finnish", 0x040B, "fi-FI", 1252},
    {"French (Standard)", 0x040C, "fr-FR", 1252},
    {"French (Belgian)", 0x080C, "fr-BE", 1252},
    {"French (Canadian)", 0x0C0C, "fr-CA", 1252},
    {"French (Swiss)", 0x100C, "fr-CH", 1252},
    {"French (Luxembourg)", 0x140C, "fr-LU", 1252},
    {"German (Standard)", 0x0407, "de-DE", 1252},
    {"German (Swiss)", 0x0807, "de-CH", 1252},
    {"German (Austrian)", 0x0C07, "de-AT", 1252},
    {"German (Luxembourg)", 0x1007, "de-LU", 1252},
    {"German (Liechtenstein)", 0x1407, "de-LI", 1252},
    {"Greek", 0x0408, "el-GR", 1253},
    {"Hebrew", 0x040D, "he-IL", 1255},
    {"Hungarian", 0x040E, "hu-HU", 1250},
    {"Icelandic", 0x040F, "is-IS", 1252},
    {"Indonesian", 0x0421, "id-ID", 1252},
    {"Italian (Standard)", 0x0410, "it-IT", 1252},
    {"Italian (Swiss)", 0x0810, "it-CH", 1252},
    {"Latvian", 0x0426, "lv-LV", 1257},
    {"Lithuanian", 0x0427, "lt-LT", 1257},
    {"Norwegian (Bokmal)", 0x0414, "nb-NO", 1252},
    {"Norwegian (Nynorsk)", 0x0814, "nn-NO", 1252},
    {"Polish", 0x0415, "pl-PL", 1250},
    {"Portuguese (Standard)", 0x0816, "pt-PT", 1252},
    {"Portuguese (Brazilian)", 0x0416, "pt-BR", 1252},
    {"Romanian", 0x0418, "ro-RO", 1250},
    {"Russian", 0x0419, "ru-RU", 1251},
    {"Serbian (Latin)", 0x081A, "sr-Latn-RS", 1250},
    {"Serbian (Cyrillic)", 0x0C1A, "sr-Cyrl-RS", 1251},
    {"Slovak", 0x041B, "sk-SK", 1250},
    {"Slovenian", 0x0424, "sl-SI", 1250},
    {"Spanish (Castilian)", 0x040A, "es-ES-u-co-trad", 1252},
    {"Spanish (Mexican)", 0x080A, "es-MX", 1252},
    {"Spanish (Modern)", 0x0C0A, "es-ES", 1252},
    {"Spanish (Guatemala)", 0x100A, "es-GT", 1252},
    {"Spanish (Costa Rica)", 0x140A, "es-CR", 1252},
    {"Spanish (Panama)", 0x180A, "es-PA", 1252},
    {"Spanish (Dominican Republic)", 0x1C0A, "es-DO", 1252},
    {"Spanish (Venezuela)", 0x200A, "es-VE", 1252},
    {"Spanish (Colombia)", 0x240A, "es-CO", 1252},
    {"Spanish (Peru)", 0x280A, "es-PE", 1252},
    {"Spanish (Argentina)", 0x2C0A, "es-AR", 1252},
    {"Spanish (Ecuador)", 0x300A, "es-EC", 1252},
    {"Spanish (Chile)", 0x340A, "es-CL", 1252},
    {"Spanish (Uruguay)", 0x380A, "es-UY", 1252},
    {"Spanish (Paraguay)", 0x3C0A, "es-PY", 1252},
    {"Spanish (Bolivia)", 0x400A, "es-BO", 1252},
    {"Spanish (El Salvador)", 0x440A, "es-SV", 1252},
    {"Spanish (Honduras)", 0x480A, "es-HN", 1252},
    {"Spanish (Nicaragua)", 0x4C0A, "es-NI", 1252},
    {"Spanish (Puerto Rico)", 0x500A, "es-PR", 1252},
    {"Swedish (Standard)", 0x041D, "sv-SE", 1252},
    {"Swedish (Finland)", 0x081D, "sv-FI", 1252},
    {"Thai", 0x041E, "th-TH", 874},
    {"Turkish", 0x041F, "tr-TR", 1254},
    {"Ukranian", 0x0422, "uk-UA", 1251},
    {"Vietnamese", 0x042A, "vi-VN", 1258},
}};

}  // namespace

std::span<const TLocaleEntry> LocaleEntries() {
  return kEntries;
}

const TLocaleEntry* FindLocaleEntry(std::uint16_t languageId) {
  for (const TLocaleEntry& entry : kEntries) {
    if (entry.LanguageId == languageId) return &entry;
  }
  return nullptr;
}

}  // namespace kura::collation_detail
