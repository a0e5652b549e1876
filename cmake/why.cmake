# Reads the table of reasons (src/why.json) when CMake configures the build
# and writes what C++ takes from it into <binary dir>/generated:
#   why_rules.inc       the enumerators of quern::WhyRule, in the table's order
#   why_rule_rows.inc   each rule's name and sentence, in the same order
#   why_pair_rows.inc   each pairing's name and sentence
#   why_opt_rows.inc    each optimiser rule's name and sentence
#   why_phrase_rows.inc each phrase's name and words, the pieces that sentences share
#   why_text_limit.inc  the most characters of a node's text that a sentence quotes
# Both builds run it; an edit of the table configures again. A malformed
# table stops the configuration with its reason.

function(quern_why_fail message)
  message(FATAL_ERROR "src/why.json: ${message}")
endfunction()

# A C++ string literal of text, which must not need escapes.
function(quern_why_literal text out)
  if(text MATCHES "[\"\\\\]")
    quern_why_fail("\"${text}\" holds a quote or a backslash")
  endif()
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# Rows {name, sentence} of the array key into the variable out; each row
# but a phrase's has an example.
function(quern_why_rows json key out)
  string(JSON count ERROR_VARIABLE error LENGTH "${json}" ${key})
  if(error OR count EQUAL 0)
    quern_why_fail("${key} must be a non-empty array")
  endif()
  math(EXPR last "${count} - 1")
  set(rows "")
  foreach(i RANGE ${last})
    string(JSON name GET "${json}" ${key} ${i} name)
    string(JSON sentence GET "${json}" ${key} ${i} sentence)
    string(JSON example ERROR_VARIABLE error GET "${json}" ${key} ${i} example)
    if(NOT key STREQUAL "phrases" AND (error OR example STREQUAL ""))
      quern_why_fail("${key} row ${i} (${name}) has no example")
    endif()
    if(NOT name MATCHES "^[a-z]+(-[a-z]+)*$")
      quern_why_fail("${key} row ${i}: name \"${name}\" is lower-case words joined by -")
    endif()
    quern_why_literal("${name}" name)
    quern_why_literal("${sentence}" sentence)
    string(APPEND rows "    {${name}, ${sentence}},\n")
  endforeach()
  set(${out} "${rows}" PARENT_SCOPE)
endfunction()

function(quern_generate_why json_file out_dir)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${json_file})
  file(READ ${json_file} json)
  set(header "// Generated from src/why.json by cmake/why.cmake: edit the table, not this file.\n")

  quern_why_rows("${json}" rules rule_rows)
  quern_why_rows("${json}" pairs pair_rows)
  quern_why_rows("${json}" optimiser opt_rows)
  quern_why_rows("${json}" phrases phrase_rows)
  string(JSON count LENGTH "${json}" rules)
  math(EXPR last "${count} - 1")
  set(enumerators "")
  foreach(i RANGE ${last})
    string(JSON variant GET "${json}" rules ${i} variant)
    if(NOT variant MATCHES "^[A-Z][A-Za-z]*$")
      quern_why_fail("rules row ${i}: variant \"${variant}\" is not a C++ name")
    endif()
    string(APPEND enumerators "  ${variant},\n")
  endforeach()

  file(CONFIGURE OUTPUT ${out_dir}/why_rules.inc CONTENT "${header}${enumerators}" @ONLY)
  file(CONFIGURE OUTPUT ${out_dir}/why_rule_rows.inc CONTENT "${header}${rule_rows}" @ONLY)
  file(CONFIGURE OUTPUT ${out_dir}/why_pair_rows.inc CONTENT "${header}${pair_rows}" @ONLY)
  file(CONFIGURE OUTPUT ${out_dir}/why_opt_rows.inc CONTENT "${header}${opt_rows}" @ONLY)
  file(CONFIGURE OUTPUT ${out_dir}/why_phrase_rows.inc CONTENT "${header}${phrase_rows}" @ONLY)
  string(JSON limit ERROR_VARIABLE error GET "${json}" text_limit)
  if(error OR NOT limit MATCHES "^[1-9][0-9]*$")
    quern_why_fail("text_limit must be a positive whole number")
  endif()
  file(CONFIGURE OUTPUT ${out_dir}/why_text_limit.inc CONTENT "${header}${limit}\n" @ONLY)
endfunction()
