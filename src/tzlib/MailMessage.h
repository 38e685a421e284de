#pragma once
// A mail message as the system's mail transfer agent takes it, and handing it to that agent's
// sendmail program.
#include <ctime>
#include <string>
#include <vector>

struct TMailMessage {
    std::string senderName, senderAddress;  // each may be empty
    std::vector<std::string> recipients;
    std::string subject, body;
    std::vector<std::string> attachments;  // file paths
};

// The message in Internet message format with MIME parts: the body as UTF-8 text and each
// attachment as base64 under its file name. Throws Exception when an attachment cannot be read,
// or when a recipient, the sender or an attachment's name holds a line break, which would make
// it a header of its own.
std::string ComposeMailMessage(const TMailMessage& message, std::time_t date);

// The sendmail program: the first on the PATH, else the standard places; empty when none.
std::string FindSendmail();

// Runs `sendmail -t -oi` with the message on its input, within a minute; true when it took the
// message (exit status 0).
bool DeliverBySendmail(const std::string& sendmail, const std::string& message);
