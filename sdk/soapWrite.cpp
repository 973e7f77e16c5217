#include "soapWrite.h"

#include "soapParse.h"
#include "text.h"
#include "xml.h"

#include <charconv>
#include <new>

SoapText::SoapText() : buf_(new (std::nothrow) char[kSoapBodyMax])
{
    if (buf_ != nullptr)
        buf_[0] = '\0';
}

SoapText &SoapText::raw(std::string_view value)
{
    if (buf_ == nullptr)
        return *this;
    size_t n = copyBounded(buf_.get() + len_, kSoapBodyMax - len_, value);
    cut_ |= n < value.size();
    len_ += n;
    return *this;
}

// The XML writer escapes exactly what the stack's reader (and any XML
// parser) decodes back: '&', '<', '>', CR, a leading blank; in attributes
// also '"', tab and LF.
SoapText &SoapText::escaped(std::string_view value, bool attribute)
{
    if (buf_ == nullptr || value.empty())
        return *this;
    QNTextDoc doc = kSoapDocKind;
    doc.text = buf_.get();
    doc.size = static_cast<uint32_t>(kSoapBodyMax);
    doc.pos = static_cast<uint32_t>(len_);
    doc.len = doc.pos;
    (void)xmlWriteText(&doc, value, attribute);
    len_ = doc.pos;
    cut_ |= len_ + 1 >= kSoapBodyMax;
    return *this;
}

SoapText &SoapText::text(std::string_view value) { return escaped(value, false); }
SoapText &SoapText::attr(std::string_view value) { return escaped(value, true); }

SoapText &SoapText::number(uint32_t value)
{
    char digits[16];
    auto res = std::to_chars(digits, digits + sizeof digits, value);
    return raw(std::string_view(digits, static_cast<size_t>(res.ptr - digits)));
}

namespace {

int pairCount(const QNApiAction &action)
{
    return action.argNum < QN_ARG_MAX_NUM ? action.argNum : QN_ARG_MAX_NUM;
}

bool finished(const SoapText &out)
{
    return out.ok() && !out.cut();
}

} // namespace

bool writeActionRequest(SoapText &out, const char *serviceType, const QNApiAction &action)
{
    std::string_view name = fieldView(action.action);
    out.raw(kSoapEnvelopeHead).raw("<u:").text(name).raw(" xmlns:u=\"").attr(serviceType).raw("\"");
    int count = pairCount(action);
    if (count == 0) {
        out.raw(" />\n");
    } else {
        out.raw(">");
        for (int i = 0; i < count; ++i) {
            const QNNameVal &nv = action.argNV[i];
            std::string_view arg = fieldView(nv.name);
            if (nv.val[0] == '\0')
                out.raw("<").text(arg).raw(" />\n");
            else
                out.raw("<").text(arg).raw(">").text(fieldView(nv.val)).raw("</").text(arg).raw(">\n");
        }
        out.raw("</u:").text(name).raw(">");
    }
    out.raw(kSoapEnvelopeTail);
    return finished(out);
}

bool writeQueryRequest(SoapText &out, const char *varName)
{
    out.raw(kSoapEnvelopeHead)
        .raw("<u:QueryStateVariable xmlns:u=\"")
        .raw(kControlNamespace)
        .raw("\"><u:varName>")
        .text(varName)
        .raw("</u:varName></u:QueryStateVariable>")
        .raw(kSoapEnvelopeTail);
    return finished(out);
}

bool writeActionResponse(SoapText &out, const char *serviceType, const QNApiAction &action)
{
    std::string_view name = fieldView(action.action);
    out.raw(kSoapEnvelopeHead).raw("<u:").text(name).raw("Response xmlns:u=\"").attr(serviceType).raw("\">");
    for (int i = 0; i < pairCount(action); ++i) {
        std::string_view arg = fieldView(action.argNV[i].name);
        out.raw("<").text(arg).raw(">").text(fieldView(action.argNV[i].val)).raw("</").text(arg).raw(">");
    }
    out.raw("</u:").text(name).raw("Response>").raw(kSoapEnvelopeTail);
    return finished(out);
}

bool writeQueryResponse(SoapText &out, const char *value)
{
    out.raw(kSoapEnvelopeHead)
        .raw("<u:QueryStateVariableResponse xmlns:u=\"")
        .raw(kControlNamespace)
        .raw("\"><return>")
        .text(value)
        .raw("</return></u:QueryStateVariableResponse>")
        .raw(kSoapEnvelopeTail);
    return finished(out);
}

bool writeFaultResponse(SoapText &out, uint16_t code, std::string_view desc)
{
    out.raw(kSoapEnvelopeHead)
        .raw("<SOAP-ENV:Fault><faultcode>SOAP-ENV:Client</faultcode><faultstring>UPnPError</faultstring>"
             "<detail><UPnPError xmlns=\"")
        .raw(kControlNamespace)
        .raw("\"><errorCode>")
        .number(code)
        .raw("</errorCode><errorDescription>")
        .text(desc)
        .raw("</errorDescription></UPnPError></detail></SOAP-ENV:Fault>")
        .raw(kSoapEnvelopeTail);
    return finished(out);
}

void writeEventStart(SoapText &out)
{
    out.raw("<e:propertyset xmlns:e=\"").raw(kEventNamespace).raw("\">\n");
}

void writeEventProperty(SoapText &out, const QNNameVal &var)
{
    std::string_view name = fieldView(var.name);
    out.raw("<e:property>\n<").text(name).raw(">").text(fieldView(var.val)).raw("</").text(name);
    out.raw(">\n</e:property>\n");
}

bool writeEventEnd(SoapText &out)
{
    out.raw("</e:propertyset>\n\n");
    return finished(out);
}

bool writeEventBody(SoapText &out, const QNNameVal *vars, int count)
{
    writeEventStart(out);
    for (int i = 0; i < count && i < QN_ARG_MAX_NUM; ++i)
        writeEventProperty(out, vars[i]);
    return writeEventEnd(out);
}
