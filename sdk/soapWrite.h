// The SOAP and GENA texts the stack writes: action and query envelopes, the
// device's three answers and event bodies. The fixed parts are written
// byte for byte as the control point and device have always sent them;
// names and values are escaped, so that what the peer's reader decodes is
// the text the application gave.
#pragma once

#include "qnLimits.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

inline constexpr char kSoapEnvelopeHead[] =
    "<?xml version=\"1.0\"?>\n"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\n"
    "<SOAP-ENV:Body>\n";
inline constexpr char kSoapEnvelopeTail[] = "</SOAP-ENV:Body>\n</SOAP-ENV:Envelope>\n";
inline constexpr char kSoapContentType[] = "text/xml; charset=\"utf-8\"";
inline constexpr char kSoapUserAgent[] = "Corvanta UPnP Server, UPnP/1.0";
// The namespace of QueryStateVariable and UPnPError (UDA 1.0, 3.2).
inline constexpr char kControlNamespace[] = "urn:schemas-upnp-org:control-1-0";
inline constexpr char kQuerySoapAction[] = "urn:schemas-upnp-org:control-1-0#QueryStateVariable";
// The error a refused action carries when its handler names none.
inline constexpr uint16_t kFaultErrorCode = 501;
inline constexpr char kFaultErrorText[] = "XML error";

// A text being built in a heap buffer of kSoapBodyMax bytes. Appends are
// cut at the end of the buffer (cut() says so); the text stays terminated.
class SoapText {
public:
    SoapText();
    bool ok() const { return buf_ != nullptr; }
    bool cut() const { return cut_; }
    const char *data() const { return buf_.get(); }
    uint32_t size() const { return static_cast<uint32_t>(len_); }

    SoapText &raw(std::string_view text);
    // Escaped as element content, or as an attribute value.
    SoapText &text(std::string_view value);
    SoapText &attr(std::string_view value);
    SoapText &number(uint32_t value);

private:
    SoapText &escaped(std::string_view value, bool attribute);
    std::unique_ptr<char[]> buf_;
    size_t len_ = 0;
    bool cut_ = false;
};

// A name or value field of a record as a view (the record may lack its
// terminator).
template <size_t N>
std::string_view fieldView(const char (&field)[N])
{
    size_t n = 0;
    while (n < N && field[n] != '\0')
        ++n;
    return std::string_view(field, n);
}

// The bodies. Each returns false when the text did not fit (cannot happen
// for records within their limits) or memory is short.
bool writeActionRequest(SoapText &out, const char *serviceType, const QNApiAction &action);
bool writeQueryRequest(SoapText &out, const char *varName);
bool writeActionResponse(SoapText &out, const char *serviceType, const QNApiAction &action);
bool writeQueryResponse(SoapText &out, const char *value);
// A fault with a UPnPError of the given code and (escaped) description.
bool writeFaultResponse(SoapText &out, uint16_t code = kFaultErrorCode, std::string_view desc = kFaultErrorText);
// A GENA property set with one property per variable (UDA 1.0, 4.2.1),
// whole or piece by piece.
bool writeEventBody(SoapText &out, const QNNameVal *vars, int count);
void writeEventStart(SoapText &out);
void writeEventProperty(SoapText &out, const QNNameVal &var);
bool writeEventEnd(SoapText &out);
