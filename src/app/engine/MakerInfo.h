#pragma once
// The maker's addresses, named once for the documents' producer, the messages and the about box.
#define MORDALE_MAKER_WEB_HOST "www.brelvant.com"

inline constexpr const char* MakerWebHost = MORDALE_MAKER_WEB_HOST;
inline constexpr const char* MakerWebAddress = "https://" MORDALE_MAKER_WEB_HOST "/";
inline constexpr const char* TechSupportAddress = "support@brelvant.com";
inline constexpr const char* FeedbackAddress = "feedback@brelvant.com";
inline constexpr const char* ProducerText = "Brelvant Mordale   " MORDALE_MAKER_WEB_HOST;
inline constexpr const char* ConnectingText = "Connecting to " MORDALE_MAKER_WEB_HOST "...";
