// SPDX-License-Identifier: MIT
// Text for the pages and files zeltoctl writes as markup: the walk report's HTML, the JUnit
// export's XML.
#pragma once

#include <string>

namespace zelto::cli {

enum class Markup { kHtml, kXml };

// The characters markup gives a meaning escaped. XML also escapes the apostrophe, and the
// control characters XML 1.0 cannot hold at all (a serial is whatever bytes the sensor sent)
// become U+FFFD.
inline std::string EscapeMarkup(const std::string& text, Markup markup) {
  const bool xml = markup == Markup::kXml;
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += xml ? "&apos;" : "'"; break;
      default:
        if (xml && static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
          out += "\xEF\xBF\xBD";
        else
          out += c;
    }
  }
  return out;
}

}  // namespace zelto::cli
