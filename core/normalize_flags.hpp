// The seventeen flags of libpostal's normalize options that expand_address
// and near_dupe_name_hashes take as keywords, in the keywords' order.  That
// order is not the record's own (the word-hyphen flags come before the
// numeric ones here), and drop_parentheticals has no keyword, so it keeps
// the library's default.
#ifndef ADDRNORM_CORE_NORMALIZE_FLAGS_HPP
#define ADDRNORM_CORE_NORMALIZE_FLAGS_HPP

#include <libpostal/libpostal.h>

#include <cstddef>

namespace addrnorm {

using NormalizeFlag = bool libpostal_normalize_options_t::*;
inline constexpr NormalizeFlag normalize_flags[] = {
    &libpostal_normalize_options_t::latin_ascii,
    &libpostal_normalize_options_t::transliterate,
    &libpostal_normalize_options_t::strip_accents,
    &libpostal_normalize_options_t::decompose,
    &libpostal_normalize_options_t::lowercase,
    &libpostal_normalize_options_t::trim_string,
    &libpostal_normalize_options_t::replace_word_hyphens,
    &libpostal_normalize_options_t::delete_word_hyphens,
    &libpostal_normalize_options_t::replace_numeric_hyphens,
    &libpostal_normalize_options_t::delete_numeric_hyphens,
    &libpostal_normalize_options_t::split_alpha_from_numeric,
    &libpostal_normalize_options_t::delete_final_periods,
    &libpostal_normalize_options_t::delete_acronym_periods,
    &libpostal_normalize_options_t::drop_english_possessives,
    &libpostal_normalize_options_t::delete_apostrophes,
    &libpostal_normalize_options_t::expand_numex,
    &libpostal_normalize_options_t::roman_numerals,
};
constexpr size_t normalize_flag_count = sizeof normalize_flags / sizeof normalize_flags[0];
static_assert(normalize_flag_count == 17, "seventeen flag keywords");

}  // namespace addrnorm

#endif
