// The files report.html embeds, compiled into the program from the
// build's generated report_assets.cc (cmake/embed_files.cmake): jQuery
// (Debian's libjs-jquery, jquery.min.js) and Flot with its plugins
// (libjs-jquery-flot, jquery.flot.min.js), both MIT-licensed, and the
// page's own script and style (host/outputs/report.js, report.css).
// No script holds "</script" or "<!--", nor the style "</style", so each
// goes inside its <script> or <style> element as it is (the build refuses
// a file that does).
#pragma once

#include <string_view>

namespace host {

std::string_view JqueryScript();
std::string_view FlotScript();
std::string_view ReportScript();
std::string_view ReportStyle();

}  // namespace host
