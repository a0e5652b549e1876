# Copies the table of keywords and symbols out of the language reference
# (docs/language.md, section "Keywords and symbols") into
# <out_dir>/reference_table.inc as one raw string literal, which
# src/reference.cc reads: an editor's hover shows the reference's own line,
# written once. An edit of the reference configures again.

function(quern_generate_reference md_file out_dir)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${md_file})
  file(READ ${md_file} text)
  set(heading "## Keywords and symbols\n")
  string(FIND "${text}" "${heading}" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "${md_file}: no section \"Keywords and symbols\"")
  endif()
  string(SUBSTRING "${text}" ${start} -1 section)
  string(LENGTH "${heading}" skip)
  string(SUBSTRING "${section}" ${skip} -1 section)
  string(FIND "${section}" "\n## " end)
  if(NOT end EQUAL -1)
    string(SUBSTRING "${section}" 0 ${end} section)
  endif()
  string(FIND "${section}" ")quern_md\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${md_file}: the section holds the literal's closing delimiter")
  endif()
  file(MAKE_DIRECTORY ${out_dir})
  file(WRITE ${out_dir}/reference_table.inc.tmp "R\"quern_md(${section})quern_md\"\n")
  file(COPY_FILE ${out_dir}/reference_table.inc.tmp ${out_dir}/reference_table.inc ONLY_IF_DIFFERENT)
endfunction()
