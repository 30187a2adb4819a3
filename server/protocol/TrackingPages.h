#pragma once
// The HTML pages the tracking side serves (UTF-8 here, sent as GBK).
#include <string>

// "/rivuzovara/rivuzovara_help.asp": how to use the program.
std::string HelpPageHtml(const std::string& base);
// "/ad.asp": the featured shops.
std::string FeaturedShopsHtml(const std::string& base);
// "/": the maker's site the about box links to.
std::string HomePageHtml(const std::string& base);
