// The readers allocate nothing: this program replaces the global operator
// new and counts the allocations made while a description, an SCPD or a
// SOAP body is read. The stack allocates only with new (grep finds no
// malloc, calloc or strdup in sdk/xml*, desc*, scpd*, soapParse*), so the
// count covers all of its allocations.
#include "desc.h"
#include "log.h"
#include "scpd.h"
#include "soapParse.h"
#include "xmlFixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

// The replacements below pair operator new with free() on purpose.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

long allocations = 0;
bool counting = false;

void *allocate(size_t n)
{
    if (counting)
        ++allocations;
    return std::malloc(n != 0 ? n : 1);
}

// Counts the allocations of one call.
template <class F>
long allocationsOf(F &&call)
{
    allocations = 0;
    counting = true;
    call();
    counting = false;
    return allocations;
}

} // namespace

void *operator new(size_t n)
{
    void *p = allocate(n);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}
void *operator new[](size_t n) { return operator new(n); }
void *operator new(size_t n, const std::nothrow_t &) noexcept { return allocate(n); }
void *operator new[](size_t n, const std::nothrow_t &) noexcept { return allocate(n); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }
void operator delete[](void *p, size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }

namespace {

using qntest::DocBuffer;

class Allocations : public ::testing::Test {
protected:
    void SetUp() override { setConsoleSink([](const char *) {}); }
    void TearDown() override { setConsoleSink(nullptr); }
};

TEST_F(Allocations, CounterSeesTheParsersRecords)
{
    const std::string text = qntest::fixture("scpd/AVTransport2.xml");
    DocBuffer b(text, kScpdDocKind);
    qntest::ScpdModel model;
    // A fresh model gets its action, argument and variable records.
    long fresh = allocationsOf([&] { EXPECT_EQ(parseScpd(&b.doc, model.get()), 0); });
    EXPECT_GT(fresh, 17 + 34);
}

TEST_F(Allocations, ElementReadersAllocateNothing)
{
    const std::string text = qntest::fixture("scpd/AVTransport2.xml");
    DocBuffer b(text, kScpdDocKind);
    long n = allocationsOf([&] {
        ASSERT_EQ(xmlSkipDecl(&b.doc), 0);
        XmlChild top{};
        ASSERT_EQ(xmlReadElementAt(&b.doc, &top), 0);
        b.doc.pos = top.start;
        XmlChild lists[4];
        int count = 4, none = 0;
        ASSERT_EQ(xmlReadChildList(&b.doc, nullptr, &none, lists, &count), 0);
        for (int i = 0; i < count; ++i) {
            b.doc.pos = lists[i].start;
            QNXmlTag tags[kMaxStateVars];
            uint32_t starts[kMaxStateVars], ends[kMaxStateVars];
            int kids = kMaxStateVars;
            QNNameVal leaves[2];
            int leafCount = 2;
            ASSERT_EQ(xmlReadChildren(&b.doc, leaves, &leafCount, tags, starts, ends, &kids), 0);
            for (int k = 0; k < kids; ++k) {
                b.doc.pos = starts[k];
                QNNameVal fields[8];
                int n2 = 8;
                ASSERT_EQ(xmlReadLeafList(&b.doc, fields, &n2), 0);
            }
        }
    });
    EXPECT_EQ(n, 0);
}

TEST_F(Allocations, ScpdIntoAPreallocatedModel)
{
    for (const std::string &path : qntest::scpdFixtures()) {
        const std::string text = qntest::fixture(path);
        qntest::ScpdModel model;
        DocBuffer first(text, kScpdDocKind);
        ASSERT_EQ(parseScpd(&first.doc, model.get()), 0) << path;
        // The model now holds a record in every slot the document needs.
        DocBuffer second(text, kScpdDocKind);
        long n = allocationsOf([&] { EXPECT_EQ(parseScpd(&second.doc, model.get()), 0) << path; });
        EXPECT_EQ(n, 0) << path;
        std::vector<char> out(kMaxDocument + 1);
        QNTextDoc doc = kScpdDocKind;
        docInitWrite(&doc, out.data(), static_cast<uint32_t>(out.size()));
        EXPECT_EQ(allocationsOf([&] { EXPECT_EQ(writeScpd(&doc, model.get()), 0); }), 0) << path;
    }
}

TEST_F(Allocations, DescriptionIntoAPreallocatedModel)
{
    for (const std::string &path : qntest::descFixtures()) {
        const std::string text = qntest::fixture(path);
        qntest::RootModel root;
        DocBuffer first(text, kDescDocKind);
        ASSERT_EQ(parseDesc(&first.doc, root.get()), 0) << path;
        DocBuffer second(text, kDescDocKind);
        // Includes rewriting the buffer with the normalised description.
        long n = allocationsOf([&] { EXPECT_EQ(parseDesc(&second.doc, root.get()), 0) << path; });
        EXPECT_EQ(n, 0) << path;
    }
}

TEST_F(Allocations, SoapBodiesAllocateNothing)
{
    const std::string bodies[] = {
        "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
        "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail><UPnPError "
        "xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>401</errorCode><errorDescription>Invalid Action"
        "</errorDescription></UPnPError></detail></s:Fault></s:Body></s:Envelope>",
        "<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\"><e:property><A>1</A></e:property>"
        "<e:property><B>&lt;x&gt;</B></e:property></e:propertyset>",
    };
    for (const std::string &body : bodies) {
        DocBuffer b(body, kSoapDocKind);
        QNApiAction action{};
        EXPECT_EQ(allocationsOf([&] { EXPECT_EQ(parseSoap(&b.doc, &action), 0); }), 0);
    }
}

} // namespace
