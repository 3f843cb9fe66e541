// readme-doc html|man README OUT: the program's documentation made from the README at build
// time, so the HTML page the Help menu opens and the manual page never drift from it.
//
// html: the whole README as one self-contained page (headings, paragraphs, lists, tables,
// code blocks, inline code, bold and links). man: orvl(1) with the README's opening
// paragraph as the description and, for every "### orvl ..." section (wherever it stands),
// its synopsis lines (the `orvl ...` lines of its first sh block, or the command in its
// heading) and its first paragraph.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> read_lines(const std::string& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  std::vector<std::string> lines;
  std::string l;
  while (std::getline(in, l)) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  return lines;
}

bool starts_with(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  size_t b = s.find_last_not_of(" \t");
  return s.substr(a, b - a + 1);
}

std::string escape_html(const std::string& s) {
  std::string o;
  for (char c : s) {
    if (c == '&') o += "&amp;";
    else if (c == '<') o += "&lt;";
    else if (c == '>') o += "&gt;";
    else if (c == '"') o += "&quot;";
    else o += c;
  }
  return o;
}

// Inline markup: `code`, **bold**, [text](url).
std::string inline_html(const std::string& s) {
  std::string o;
  for (size_t i = 0; i < s.size();) {
    if (s[i] == '`') {
      size_t e = s.find('`', i + 1);
      if (e != std::string::npos) {
        o += "<code>" + escape_html(s.substr(i + 1, e - i - 1)) + "</code>";
        i = e + 1;
        continue;
      }
    }
    if (s.compare(i, 2, "**") == 0) {
      size_t e = s.find("**", i + 2);
      if (e != std::string::npos) {
        o += "<b>" + inline_html(s.substr(i + 2, e - i - 2)) + "</b>";
        i = e + 2;
        continue;
      }
    }
    if (s[i] == '[') {
      size_t close = s.find("](", i);
      size_t end = close == std::string::npos ? close : s.find(')', close);
      if (close != std::string::npos && end != std::string::npos && s.find('`', i) > close) {
        o += "<a href=\"" + escape_html(s.substr(close + 2, end - close - 2)) + "\">" +
             inline_html(s.substr(i + 1, close - i - 1)) + "</a>";
        i = end + 1;
        continue;
      }
    }
    o += escape_html(std::string(1, s[i]));
    ++i;
  }
  return o;
}

std::vector<std::string> table_cells(const std::string& row) {
  std::vector<std::string> cells;
  std::string t = trim(row);
  if (starts_with(t, "|")) t.erase(0, 1);
  if (!t.empty() && t.back() == '|') t.pop_back();
  std::string cell;
  bool in_code = false;
  for (char c : t) {
    if (c == '`') in_code = !in_code;
    if (c == '|' && !in_code) {
      cells.push_back(trim(cell));
      cell.clear();
    } else {
      cell += c;
    }
  }
  cells.push_back(trim(cell));
  return cells;
}

std::string to_html(const std::vector<std::string>& lines) {
  std::ostringstream o;
  o << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>orvl</title>\n"
       "<style>body{font-family:sans-serif;max-width:60em;margin:2em auto;padding:0 1em;line-height:1.4}"
       "pre{background:#f4f4f4;padding:.6em;overflow-x:auto}code{background:#f4f4f4}"
       "table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:.2em .5em;text-align:left}</style>\n"
       "</head>\n<body>\n";
  std::string para;
  bool in_list = false;
  auto flush = [&] {
    if (!para.empty()) o << (in_list ? "<li>" : "<p>") << inline_html(para) << (in_list ? "</li>\n" : "</p>\n");
    para.clear();
    if (in_list) o << "</ul>\n";
    in_list = false;
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (starts_with(l, "```")) {
      flush();
      o << "<pre>";
      for (++i; i < lines.size() && !starts_with(lines[i], "```"); ++i) o << escape_html(lines[i]) << "\n";
      o << "</pre>\n";
      continue;
    }
    if (starts_with(l, "#")) {
      flush();
      size_t level = l.find_first_not_of('#');
      if (level == std::string::npos || level > 6) level = 6;
      o << "<h" << level << ">" << inline_html(trim(l.substr(level))) << "</h" << level << ">\n";
      continue;
    }
    if (starts_with(trim(l), "|")) {
      flush();
      o << "<table>\n";
      bool header = true;
      for (; i < lines.size() && starts_with(trim(lines[i]), "|"); ++i) {
        std::vector<std::string> cells = table_cells(lines[i]);
        if (cells.size() > 0 && cells[0].find_first_not_of("-: ") == std::string::npos) continue;  // rule row
        o << "<tr>";
        for (const std::string& c : cells) o << (header ? "<th>" : "<td>") << inline_html(c) << (header ? "</th>" : "</td>");
        o << "</tr>\n";
        header = false;
      }
      --i;
      o << "</table>\n";
      continue;
    }
    if (trim(l).empty()) {
      flush();
      continue;
    }
    if (starts_with(l, "- ")) {
      if (!para.empty()) o << (in_list ? "<li>" : "<p>") << inline_html(para) << (in_list ? "</li>\n" : "</p>\n");
      para.clear();
      if (!in_list) o << "<ul>\n";
      in_list = true;
      para = l.substr(2);
      continue;
    }
    if (in_list && starts_with(l, "  ")) {
      para += " " + trim(l);
      continue;
    }
    if (in_list) {
      o << "<li>" << inline_html(para) << "</li>\n</ul>\n";
      para.clear();
      in_list = false;
    }
    para += (para.empty() ? "" : " ") + trim(l);
    if (in_list) continue;
  }
  if (in_list && !para.empty()) {
    o << "<li>" << inline_html(para) << "</li>\n</ul>\n";
    para.clear();
    in_list = false;
  }
  flush();
  o << "</body>\n</html>\n";
  return o.str();
}

// Text for roff: backslashes doubled, a leading dot or quote guarded, markdown marks dropped.
std::string roff(const std::string& s) {
  std::string o;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
      // Non-ASCII text (dashes, arrows, box drawing) as troff's Unicode escapes, so the page
      // formats the same whatever input encoding the formatter assumes.
      int extra = u >= 0xF0 ? 3 : u >= 0xE0 ? 2 : u >= 0xC0 ? 1 : 0;
      unsigned cp = extra == 3 ? (u & 0x07u) : extra == 2 ? (u & 0x0Fu) : (u & 0x1Fu);
      bool ok = extra > 0 && i + extra < s.size();
      for (int k = 1; ok && k <= extra; ++k) {
        const unsigned char n = static_cast<unsigned char>(s[i + k]);
        ok = (n & 0xC0u) == 0x80u;
        cp = (cp << 6) | (n & 0x3Fu);
      }
      if (ok) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "\\[u%04X]", cp);
        o += buf;
        i += extra;
      } else {
        o += '?';
      }
      continue;
    }
    if (c == '\\') o += "\\e";
    else if (c == '-') o += "\\-";
    else if (c == '`') continue;
    else o += c;
  }
  size_t bold;
  while ((bold = o.find("**")) != std::string::npos) o.erase(bold, 2);
  if (!o.empty() && (o[0] == '.' || o[0] == '\'')) o = "\\&" + o;
  return o;
}

std::string to_man(const std::vector<std::string>& lines) {
  std::ostringstream o;
  o << ".TH ORVL 1 \"\" \"orvl\" \"User Commands\"\n.SH NAME\norvl \\- LightWave 5 scene player\n";
  // Description: the README's first paragraph.
  size_t i = 0;
  while (i < lines.size() && (starts_with(lines[i], "#") || trim(lines[i]).empty())) ++i;
  std::string intro;
  for (; i < lines.size() && !trim(lines[i]).empty(); ++i) intro += (intro.empty() ? "" : " ") + trim(lines[i]);
  std::ostringstream synopsis, commands;
  for (i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (!starts_with(l, "### ")) continue;
    std::string title = trim(l.substr(4));
    std::string heading_code;
    if (title.size() > 2 && title.front() == '`' && title.back() == '`') heading_code = title.substr(1, title.size() - 2);
    if (!starts_with(title, "orvl") && !starts_with(heading_code, "orvl")) continue;
    std::vector<std::string> syn;
    if (!heading_code.empty()) syn.push_back(heading_code);
    std::string text;
    size_t j = i + 1;
    bool took_block = false;
    for (; j < lines.size() && !starts_with(lines[j], "#"); ++j) {
      const std::string& b = lines[j];
      if (starts_with(b, "```")) {
        bool first_block = !took_block;
        for (++j; j < lines.size() && !starts_with(lines[j], "```"); ++j) {
          std::string s = trim(lines[j]);
          size_t hash = s.find("  #");
          if (hash != std::string::npos) s = trim(s.substr(0, hash));
          if (first_block && heading_code.empty() && starts_with(s, "orvl")) syn.push_back(s);
        }
        took_block = true;
        continue;
      }
      if (trim(b).empty()) {
        if (!text.empty()) break;
        continue;
      }
      text += (text.empty() ? "" : " ") + trim(b);
    }
    // A synopsis written inline in the text ("`orvl gl-info [--headless]` prints ...").
    if (syn.empty() && starts_with(text, "`orvl")) syn.push_back(text.substr(1, text.find('`', 1) - 1));
    for (const std::string& s : syn) synopsis << ".br\n" << roff(s) << "\n";
    commands << ".SS " << roff(heading_code.empty() ? title : heading_code) << "\n";
    for (const std::string& s : syn) commands << ".nf\n" << roff(s) << "\n.fi\n";
    if (!text.empty()) commands << ".PP\n" << roff(text) << "\n";
  }
  o << ".SH SYNOPSIS\n" << synopsis.str() << ".SH DESCRIPTION\n" << roff(intro) << "\n.SH COMMANDS\n"
    << commands.str() << ".SH FILES\n.TP\n.B Orvl.ini\n"
    << "The configuration file, read from the current directory, else from "
       "$XDG_CONFIG_HOME/orvl/Orvl.ini or ~/.config/orvl/Orvl.ini.\n"
    << ".SH SEE ALSO\nThe HTML documentation, share/doc/orvl/Orvl_16.htm.\n";
  return o.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::string(argv[1]) != "html" && std::string(argv[1]) != "man")) {
    std::fprintf(stderr, "usage: readme-doc html|man README OUT\n");
    return 2;
  }
  bool ok = false;
  const std::vector<std::string> lines = read_lines(argv[2], &ok);
  if (!ok) {
    std::fprintf(stderr, "readme-doc: cannot read %s\n", argv[2]);
    return 1;
  }
  const std::string text = std::string(argv[1]) == "html" ? to_html(lines) : to_man(lines);
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  out << text;
  out.flush();
  if (!out) {
    std::fprintf(stderr, "readme-doc: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
