// A site's tags as table sitetag holds them (code, tag); a database without that table has none.
#pragma once

#include "db/dbaccess.h"

#include <string>
#include <vector>

/// The tags of the site `code`, in the table's order; none when the table is missing.
std::vector<std::string> SiteTagsOf(TDbQuery& query, const std::string& code);
