#pragma once
// The distribution vocabulary of the analytics dimensions: which sites are paid traffic,
// and the channel tag each known site id is reported under.

#include <string>

// "PPC" for the paid-traffic sites (106, 116, 125, 126), "SEO" for every other.
std::string TrafficType(int siteId);

// The channel tag of a site id; two sites refine it by markers in the (lower-cased)
// download URL. A site id outside the table gives its decimal form.
std::string ChannelTag(int siteId, const std::string& lowerCaseDownloadUrl);
