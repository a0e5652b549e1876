-- Neovim's own language client, headless, against quern --lsp: a source
-- whose file name is Devanagari, with an astral and a Devanagari name, CR LF
-- line ends and two findings. Neovim must show exactly the findings that
-- quern --explain gives, at their places; hover a parameter; and jump from
-- a use to its declaration. Every wait is bounded; Neovim exits 0 when all
-- checks pass.
local quern = assert(os.getenv("QUERN"), "QUERN names the quern program")
local failures = 0
local function check(ok, what, detail)
  if ok then
    io.stdout:write("ok: " .. what .. "\n")
  else
    failures = failures + 1
    io.stdout:write("FAILED: " .. what .. (detail and (": " .. vim.inspect(detail)) or "") .. "\n")
  end
end

local function main()
  vim.lsp.set_log_level("ERROR")
  local dir = vim.fn.tempname()
  vim.fn.mkdir(dir, "p")
  local path = dir .. "/अभ्यास.c"
  local lines = { "int f(int 𝑥, int कि) {", "  int 𝑥 = 1;", "  return कि + y;", "}" }
  local file = assert(io.open(path, "wb"))
  file:write(table.concat(lines, "\r\n") .. "\r\n")
  file:close()

  -- The findings as the compiler gives them, and where Neovim must put them:
  -- the compiler counts a column in characters, Neovim in bytes.
  local explained = vim.fn.json_decode(vim.fn.system({ quern, "--explain", path }))
  local expected = {}
  for _, d in ipairs(explained.diagnostics) do
    local at = d.at or { line = d.line, column = d.column }
    table.insert(expected, {
      lnum = at.line - 1,
      col = vim.str_byteindex(lines[at.line], at.column - 1),
      code = d.kind,
    })
  end
  check(#expected == 2, "the source has two findings", expected)

  vim.cmd("edit " .. vim.fn.fnameescape(path))
  local buffer = vim.api.nvim_get_current_buf()
  check(vim.bo.fileformat == "dos", "the buffer has CR LF line ends")
  local exit_code
  local client = vim.lsp.start_client({ name = "quern", cmd = { quern, "--lsp" }, root_dir = dir,
    on_exit = function(code) exit_code = code end })
  vim.lsp.buf_attach_client(buffer, client)

  check(vim.wait(10000, function() return #vim.diagnostic.get(buffer) >= #expected end, 20),
    "the diagnostics arrive")
  local got = vim.diagnostic.get(buffer)
  table.sort(got, function(a, b)
    return a.lnum < b.lnum or (a.lnum == b.lnum and a.col < b.col)
  end)
  check(#got == #expected, "as many diagnostics as findings", got)
  for i, e in ipairs(expected) do
    local d = got[i] or {}
    local code = d.code or (d.user_data and d.user_data.lsp and d.user_data.lsp.code)
    check(d.lnum == e.lnum and d.col == e.col and code == e.code and d.source == "quern"
      and d.severity == vim.diagnostic.severity.ERROR,
      "error " .. i .. " (" .. e.code .. ") at line " .. e.lnum .. ", byte " .. e.col, d)
  end

  -- The use of the parameter कि on line 3.
  local use = lines[3]:find("कि", 1, true) - 1
  vim.api.nvim_win_set_cursor(0, { 3, use })
  local answers = vim.lsp.buf_request_sync(buffer, "textDocument/hover",
    vim.lsp.util.make_position_params(), 5000) or {}
  local hover = answers[client] and answers[client].result
  local text = hover and hover.contents and hover.contents.value or ""
  check(text:find("parameter", 1, true) ~= nil and text:find("line 1", 1, true) ~= nil,
    "hover on a parameter says what it is and where it is declared", text)

  local declaration = lines[1]:find("कि", 1, true) - 1
  vim.lsp.buf.definition()
  check(vim.wait(5000, function()
    local cursor = vim.api.nvim_win_get_cursor(0)
    return cursor[1] == 1 and cursor[2] == declaration
  end, 20), "definition jumps from the use to the declaration", vim.api.nvim_win_get_cursor(0))

  vim.lsp.stop_client(client)
  check(vim.wait(5000, function() return exit_code ~= nil end, 20) and exit_code == 0,
    "the server ends with 0 after shutdown and exit", exit_code)
end

local ok, problem = pcall(main)
check(ok, "the script ran to its end", problem)
io.stdout:write(failures == 0 and "all checks passed\n" or (failures .. " checks failed\n"))
vim.cmd(failures == 0 and "qall!" or "cquit 1")
