// Reads the library's JSON answers (flat objects) and quotes strings for the
// command's own JSON lines. The library's result texts are small and flat, so
// a full JSON library is not needed here.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"

namespace {

struct Reader {
  const char *p;

  void skip_space() {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') p++;
  }
  bool eat(char c) {
    skip_space();
    if (*p != c) return false;
    p++;
    return true;
  }
};

void append_utf8(std::string &out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool read_hex4(Reader &r, unsigned long &cp) {
  cp = 0;
  for (int i = 0; i < 4; i++) {
    char c = *r.p++;
    cp <<= 4;
    if (c >= '0' && c <= '9') cp |= c - '0';
    else if (c >= 'a' && c <= 'f') cp |= c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') cp |= c - 'A' + 10;
    else return false;
  }
  return true;
}

bool read_string(Reader &r, std::string &out) {
  if (!r.eat('"')) return false;
  out.clear();
  while (*r.p != '"') {
    char c = *r.p++;
    if (c == '\0') return false;
    if (c != '\\') {
      out += c;
      continue;
    }
    char e = *r.p++;
    switch (e) {
      case '"': case '\\': case '/': out += e; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        unsigned long cp;
        if (!read_hex4(r, cp)) return false;
        if (cp >= 0xD800 && cp < 0xDC00 && r.p[0] == '\\' && r.p[1] == 'u') {
          r.p += 2;
          unsigned long low;
          if (!read_hex4(r, low) || low < 0xDC00 || low > 0xDFFF) return false;
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        append_utf8(out, cp);
        break;
      }
      default: return false;
    }
  }
  r.p++;
  return true;
}

// Length of the UTF-8 sequence starting at s, or 0 when it is not one.
std::size_t utf8_length(const unsigned char *s, std::size_t left) {
  unsigned char c = s[0];
  std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || n > left) return 0;
  for (std::size_t i = 1; i < n; i++)
    if ((s[i] & 0xC0) != 0x80) return 0;
  return n;
}

}  // namespace

bool parse_flat_object(const char *text, std::vector<JsonMember> &members) {
  members.clear();
  Reader r{text};
  if (!r.eat('{')) return false;
  if (r.eat('}')) return true;
  do {
    JsonMember m;
    if (!read_string(r, m.key) || !r.eat(':')) return false;
    r.skip_space();
    if (*r.p == '"') {
      m.is_string = true;
      if (!read_string(r, m.text)) return false;
    } else {
      const char *start = r.p;
      while (*r.p && !std::strchr(",} \t\r\n", *r.p)) r.p++;
      if (r.p == start) return false;
      m.text.assign(start, r.p);
      m.number = std::strtod(m.text.c_str(), nullptr);
    }
    members.push_back(std::move(m));
  } while (r.eat(','));
  return r.eat('}');
}

const JsonMember *find_member(const std::vector<JsonMember> &members, const char *key) {
  for (const auto &m : members)
    if (m.key == key) return &m;
  return nullptr;
}

double member_number(const std::vector<JsonMember> &members, const char *key) {
  const JsonMember *m = find_member(members, key);
  return m && !m->is_string ? m->number : 0.0;
}

std::string flat_object_text(const std::vector<JsonMember> &members) {
  std::string text = "{";
  for (const auto &m : members) {
    if (text.size() > 1) text += ',';
    text += json_quote(m.key) + ':' + (m.is_string ? json_quote(m.text) : m.text);
  }
  return text + "}";
}

std::string timing_text(const std::vector<JsonMember> &members) {
  double duration = member_number(members, "duration_s");
  double elapsed = member_number(members, "elapsed_s");
  char text[160];
  int n = std::snprintf(text, sizeof text, "%.1f s of audio in %.2f s", duration, elapsed);
  if (elapsed > 0)
    std::snprintf(text + n, sizeof text - n, ", %.1fx real time", duration / elapsed);
  return text;
}

std::string json_quote(const std::string &text) {
  std::string out = "\"";
  const auto *s = reinterpret_cast<const unsigned char *>(text.data());
  std::size_t i = 0, n = text.size();
  while (i < n) {
    unsigned char c = s[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      i++;
    } else if (c < 0x20) {
      static const char hex[] = "0123456789abcdef";
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 0xF];
      i++;
    } else if (std::size_t len = utf8_length(s + i, n - i)) {
      out.append(text, i, len);
      i += len;
    } else {
      out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
      i++;
    }
  }
  return out + "\"";
}
