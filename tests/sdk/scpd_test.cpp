// SCPDs: every fixture SCPD, its written form checked with real
// XML parsers, capacity edges, sendEvents forms, argument and variable
// grammar, reuse and release.
#include "log.h"
#include "scpd.h"
#include "xmlFixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qntest::DocBuffer;
using qntest::ScpdModel;

std::string console;
void captureConsole(const char *text) { console += text; }

class Scpd : public ::testing::Test {
protected:
    void SetUp() override
    {
        console.clear();
        setConsoleSink(captureConsole);
    }
    void TearDown() override { setConsoleSink(nullptr); }
};

int parse(const std::string &text, QNScpd *scpd)
{
    DocBuffer b(text, kScpdDocKind);
    return b.doc.parse(&b.doc, scpd);
}

std::string write(const QNScpd *scpd)
{
    std::vector<char> buf(kMaxDocument + 1);
    QNTextDoc doc = kScpdDocKind;
    docInitWrite(&doc, buf.data(), static_cast<uint32_t>(buf.size()));
    EXPECT_EQ(doc.serialize(&doc, const_cast<QNScpd *>(scpd)), 0);
    return std::string(doc.text, doc.len);
}

size_t occurrences(const std::string &text, const std::string &word)
{
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

std::string scpd(const std::string &actions, const std::string &vars)
{
    return "<?xml version=\"1.0\"?>\n<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">"
           "<specVersion><major>1</major><minor>0</minor></specVersion>"
           "<actionList>" + actions + "</actionList><serviceStateTable>" + vars +
           "</serviceStateTable></scpd>";
}

std::string actions(int n, int args = 1)
{
    std::string text;
    for (int i = 0; i < n; ++i) {
        text += "<action><name>A" + std::to_string(i) + "</name><argumentList>";
        for (int j = 0; j < args; ++j)
            text += "<argument><name>In" + std::to_string(j) +
                    "</name><direction>in</direction><relatedStateVariable>V</relatedStateVariable></argument>";
        text += "</argumentList></action>";
    }
    return text;
}

std::string vars(int n)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += "<stateVariable sendEvents=\"no\"><name>V" + std::to_string(i) +
                "</name><dataType>string</dataType></stateVariable>";
    return text;
}

std::string allowedList(int n)
{
    std::string text = "<stateVariable><name>Mode</name><dataType>string</dataType><allowedValueList>";
    for (int i = 0; i < n; ++i)
        text += "<allowedValue>M" + std::to_string(i) + "</allowedValue>";
    return text + "</allowedValueList></stateVariable>";
}

const QNVarDesc *findVar(const QNScpd *s, const char *name)
{
    for (int i = 0; i < s->varCount; ++i)
        if (std::strcmp(s->vars[i]->name.val, name) == 0)
            return s->vars[i];
    return nullptr;
}

const QNActionDesc *findAction(const QNScpd *s, const char *name)
{
    for (int i = 0; i < s->actionCount; ++i)
        if (std::strcmp(s->actions[i]->name.val, name) == 0)
            return s->actions[i];
    return nullptr;
}

// ---- Real SCPDs ------------------------------------------------------------------

TEST_F(Scpd, EveryFixtureParsesWithAllItsActionsAndVariables)
{
    for (const std::string &path : qntest::scpdFixtures()) {
        const std::string text = qntest::fixture(path);
        ScpdModel model;
        ASSERT_EQ(parse(text, model.get()), 0) << path;
        EXPECT_EQ(model->actionCount, occurrences(text, "<action>")) << path;
        EXPECT_EQ(model->varCount, occurrences(text, "<stateVariable")) << path;
        size_t silent = 0;
        for (int i = 0; i < model->varCount; ++i)
            silent += model->vars[i]->sendEvents == 0;
        EXPECT_EQ(silent, occurrences(text, "sendEvents=\"no\"")) << path;
        EXPECT_STREQ(model->specVersion[0].val, "1") << path;
    }
}

TEST_F(Scpd, AvTransport2Details)
{
    ScpdModel model;
    ASSERT_EQ(parse(qntest::fixture("scpd/AVTransport2.xml"), model.get()), 0);
    EXPECT_EQ(model->actionCount, 17);
    EXPECT_EQ(model->varCount, 34);
    const QNActionDesc *info = findAction(model.get(), "GetMediaInfo_Ext");
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->argCount, 11);
    EXPECT_STREQ(info->args[1]->name.val, "CurrentType");
    EXPECT_STREQ(info->args[1]->direction.val, "out");
    EXPECT_STREQ(info->args[1]->relatedStateVariable.val, "CurrentMediaCategory");
    int most = 0;
    for (int i = 0; i < model->varCount; ++i)
        if (model->vars[i]->allowed != nullptr && model->vars[i]->allowed->count > most)
            most = model->vars[i]->allowed->count;
    EXPECT_EQ(most, 39); // kept whole: more than the old capacity of 5, fewer than kMaxAllowedValues
    const QNVarDesc *lastChange = findVar(model.get(), "LastChange");
    ASSERT_NE(lastChange, nullptr);
    EXPECT_EQ(lastChange->sendEvents, 1);
}

TEST_F(Scpd, NetworkLightDimming)
{
    ScpdModel model;
    ASSERT_EQ(parse(qntest::fixture("devices/network-light/Dimming-scpd.xml"), model.get()), 0);
    const QNVarDesc *status = findVar(model.get(), "LoadLevelStatus");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->sendEvents, 1);
    EXPECT_STREQ(status->dataType.val, "ui1");
    // The default value before the range does not hide it.
    for (const char *name : {"LoadLevelStatus", "LoadLevelTarget"}) {
        const QNVarDesc *var = findVar(model.get(), name);
        ASSERT_NE(var, nullptr) << name;
        ASSERT_NE(var->allowed, nullptr) << name;
        EXPECT_EQ(var->allowed->kind, AK_RANGE) << name;
        ASSERT_EQ(var->allowed->count, 2) << name;
        EXPECT_STREQ(var->allowed->values[0].name, "minimum") << name;
        EXPECT_STREQ(var->allowed->values[0].val, "0") << name;
        EXPECT_STREQ(var->allowed->values[1].name, "maximum") << name;
        EXPECT_STREQ(var->allowed->values[1].val, "100") << name;
    }
    // An argument's <retval/> before relatedStateVariable does not hide it.
    struct Getter {
        const char *action;
        const char *related;
    };
    for (const Getter &g : {Getter{"GetLoadLevelTarget", "LoadLevelTarget"},
                            Getter{"GetLoadLevelStatus", "LoadLevelStatus"}}) {
        const QNActionDesc *get = findAction(model.get(), g.action);
        ASSERT_NE(get, nullptr) << g.action;
        ASSERT_EQ(get->argCount, 1) << g.action;
        EXPECT_STREQ(get->args[0]->direction.val, "out") << g.action;
        EXPECT_STREQ(get->args[0]->relatedStateVariable.val, g.related) << g.action;
    }
    const std::string written = write(model.get());
    EXPECT_NE(written.find("<stateVariable sendEvents=\"yes\"><name>LoadLevelStatus</name><dataType>ui1</dataType>"
                           "<defaultValue>0</defaultValue><allowedValueRange><minimum>0</minimum><maximum>100</maximum></allowedValueRange>"
                           "</stateVariable>"),
              std::string::npos)
        << written;
}

TEST_F(Scpd, DecoratedFixturesGiveTheSameModel)
{
    for (const std::string &path : qntest::scpdFixtures()) {
        const std::string text = qntest::fixture(path);
        ScpdModel plain;
        ASSERT_EQ(parse(text, plain.get()), 0) << path;
        for (const qntest::Decoration &v : qntest::kDecorations) {
            const std::string decorated = qntest::decorated(text, v.bom, v.comments);
            if (qntest::toolsAvailable()) {
                EXPECT_EQ(qntest::xmllintProblems(decorated), "") << path << ", " << v.name;
            }
            ScpdModel model;
            ASSERT_EQ(parse(decorated, model.get()), 0) << path << ", " << v.name;
            EXPECT_EQ(qntest::diffScpd(*plain.get(), *model.get()), "") << path << ", " << v.name;
        }
    }
}

TEST_F(Scpd, FixturesRoundTripThroughTheirWrittenForm)
{
    for (const std::string &path : qntest::scpdFixtures()) {
        ScpdModel first, second;
        ASSERT_EQ(parse(qntest::fixture(path), first.get()), 0) << path;
        const std::string written = write(first.get());
        ASSERT_EQ(parse(written, second.get()), 0) << path;
        EXPECT_EQ(qntest::diffScpd(*first.get(), *second.get()), "") << path;
        EXPECT_EQ(write(second.get()), written) << path;
    }
}

TEST_F(Scpd, WrittenScpdsAreValidForRealParsers)
{
    if (!qntest::toolsAvailable())
        GTEST_SKIP() << "xmllint or python3 missing";
    for (const std::string &path : qntest::scpdFixtures()) {
        ScpdModel model;
        ASSERT_EQ(parse(qntest::fixture(path), model.get()), 0) << path;
        const std::string written = write(model.get());
        EXPECT_EQ(written.rfind("<?xml version=\"1.0\"?>\r\n<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">"
                                "<specVersion><major>1</major><minor>0</minor></specVersion><actionList>",
                                0),
                  0u)
            << path;
        EXPECT_EQ(qntest::xmllintProblems(written), "") << path;
        int silent = 0, extra = 0;
        for (int i = 0; i < model->varCount; ++i) {
            silent += model->vars[i]->sendEvents == 0;
            extra += model->vars[i]->allowed != nullptr;
            extra += model->vars[i]->defaultValue.name[0] != '\0';
        }
        std::string counts = qntest::pythonOnTree(
            written, "print(len(doc.findall('s:actionList/s:action', ns)),"
                     " len(doc.findall('s:actionList/s:action/s:argumentList/s:argument', ns)),"
                     " len(doc.findall('s:serviceStateTable/s:stateVariable', ns)),"
                     " len(doc.findall(\"s:serviceStateTable/s:stateVariable[@sendEvents='no']\", ns)),"
                     " len(doc.findall(\"s:serviceStateTable/s:stateVariable[@sendEvents='yes']\", ns)),"
                     " len(doc.findall('s:serviceStateTable/s:stateVariable/*', ns)) - 2 * "
                     "len(doc.findall('s:serviceStateTable/s:stateVariable', ns)))");
        int args = 0;
        for (int i = 0; i < model->actionCount; ++i)
            args += model->actions[i]->argCount;
        EXPECT_EQ(counts, std::to_string(model->actionCount) + " " + std::to_string(args) + " " +
                              std::to_string(model->varCount) + " " + std::to_string(silent) + " " +
                              std::to_string(model->varCount - silent) + " " + std::to_string(extra) + "\n")
            << path;
    }
}

// ---- Capacities --------------------------------------------------------------------

TEST_F(Scpd, ActionsPerScpd)
{
    ScpdModel fits;
    ASSERT_EQ(parse(scpd(actions(kMaxActions), vars(1)), fits.get()), 0);
    EXPECT_EQ(fits->actionCount, kMaxActions);
    EXPECT_STREQ(fits->actions[kMaxActions - 1]->name.val, "A63");

    ScpdModel over;
    EXPECT_EQ(parse(scpd(actions(kMaxActions + 1), vars(1)), over.get()), -500);

    // The capacity error as parseActionList reports it.
    DocBuffer b(actions(kMaxActions + 1) + "</actionList>", kScpdDocKind);
    EXPECT_EQ(parseActionList(&b.doc, over.get()), QN_ERR_NOMEM);
}

TEST_F(Scpd, ArgumentsPerAction)
{
    ScpdModel fits;
    ASSERT_EQ(parse(scpd(actions(1, QN_ARG_MAX_NUM), vars(1)), fits.get()), 0);
    EXPECT_EQ(fits->actions[0]->argCount, QN_ARG_MAX_NUM);

    ScpdModel over;
    EXPECT_EQ(parse(scpd(actions(1, QN_ARG_MAX_NUM + 1), vars(1)), over.get()), -500);
}

TEST_F(Scpd, StateVariablesPerScpd)
{
    ScpdModel fits;
    ASSERT_EQ(parse(scpd("", vars(kMaxStateVars)), fits.get()), 0);
    EXPECT_EQ(fits->varCount, kMaxStateVars);
    EXPECT_STREQ(fits->vars[kMaxStateVars - 1]->name.val, "V127");

    ScpdModel over;
    EXPECT_EQ(parse(scpd("", vars(kMaxStateVars + 1)), over.get()), -500);
}

TEST_F(Scpd, AllowedValuesKeepTheFirst)
{
    for (int n : {kMaxAllowedValues - 1, kMaxAllowedValues, kMaxAllowedValues + 1, 2 * kMaxAllowedValues}) {
        ScpdModel model;
        ASSERT_EQ(parse(scpd("", allowedList(n) + vars(1)), model.get()), 0) << n;
        const QNAllowedVals *allowed = model->vars[0]->allowed;
        ASSERT_NE(allowed, nullptr);
        EXPECT_EQ(allowed->kind, AK_LIST);
        EXPECT_EQ(allowed->count, std::min(n, kMaxAllowedValues)) << n;
        EXPECT_STREQ(allowed->values[allowed->count - 1].val, ("M" + std::to_string(allowed->count - 1)).c_str());
        EXPECT_EQ(model->varCount, 2) << "the variable after the list is read";
    }
}

// ---- sendEvents -------------------------------------------------------------------

struct EventCase {
    const char *name;
    const char *startTag;
    int ret;
    int sendEvents;
};

TEST_F(Scpd, SendEventsForms)
{
    const EventCase cases[] = {
        {"no", "<stateVariable sendEvents=\"no\">", 0, 0},
        {"yes", "<stateVariable sendEvents=\"yes\">", 0, 1},
        {"absent", "<stateVariable>", 0, 1},
        {"blanks around =", "<stateVariable  sendEvents = \"no\" >", 0, 0},
        {"compared by prefix", "<stateVariable sendEvents=\"nope\">", 0, 0},
        {"only the first attribute", "<stateVariable multicast=\"no\" sendEvents=\"no\">", 0, 1},
        {"single quotes", "<stateVariable sendEvents='no'>", -500, -1},
        {"upper case", "<stateVariable sendEvents=\"No\">", -500, -1},
        {"no equals sign", "<stateVariable sendEvents \"no\">", -500, -1},
    };
    for (const EventCase &c : cases) {
        console.clear();
        ScpdModel model;
        std::string text = scpd("", std::string(c.startTag) + "<name>V</name><dataType>ui4</dataType></stateVariable>");
        ASSERT_EQ(parse(text, model.get()), c.ret) << c.name;
        if (c.ret == 0) {
            EXPECT_EQ(model->vars[0]->sendEvents, c.sendEvents) << c.name;
        }
    }
    console.clear();
    ScpdModel model;
    parse(scpd("", "<stateVariable sendEvents=\"No\"><name>V</name></stateVariable>"), model.get());
    EXPECT_NE(console.find(" NULL sendEvents\r\n"), std::string::npos);
}

TEST_F(Scpd, WriterMarksVariablesThatAreNotEvented)
{
    ScpdModel model;
    ASSERT_EQ(parse(scpd("", "<stateVariable sendEvents=\"no\"><name>A</name><dataType>ui4</dataType>"
                             "</stateVariable><stateVariable><name>B</name><dataType>ui4</dataType>"
                             "</stateVariable>"),
                    model.get()),
              0);
    const std::string written = write(model.get());
    EXPECT_NE(written.find("<serviceStateTable><stateVariable sendEvents=\"no\"><name>A</name><dataType>ui4"
                           "</dataType></stateVariable><stateVariable sendEvents=\"yes\"><name>B</name>"),
              std::string::npos)
        << written;
}

// ---- Grammar of arguments and variables ------------------------------------------------

TEST_F(Scpd, ArgumentChildren)
{
    struct Case {
        const char *name;
        const char *argument;
        int ret;
        const char *direction;
        const char *related;
        const char *dataType;
    };
    const Case cases[] = {
        {"usual", "<name>X</name><direction>in</direction><relatedStateVariable>V</relatedStateVariable>", 0, "in",
         "V", ""},
        {"dataType instead", "<name>X</name><direction>out</direction><dataType>ui4</dataType>", 0, "out", "",
         "ui4"},
        {"related first", "<name>X</name><relatedStateVariable>V</relatedStateVariable><direction>in</direction>",
         0, "in", "V", ""},
        {"related twice", "<name>X</name><relatedStateVariable>V</relatedStateVariable>"
                          "<relatedStateVariable>W</relatedStateVariable>", -1, nullptr, nullptr, nullptr},
        {"dataType and related", "<name>X</name><dataType>ui4</dataType><relatedStateVariable>V"
                                 "</relatedStateVariable>", -1, nullptr, nullptr, nullptr},
        {"direction twice", "<name>X</name><direction>in</direction><direction>out</direction>", -1, nullptr,
         nullptr, nullptr},
        {"only a name", "<name>X</name>", 0, "", "", ""},
        {"retval before related", "<name>X</name><direction>out</direction><retval />"
                                  "<relatedStateVariable>V</relatedStateVariable>", 0, "out", "V", ""},
        {"retval after related", "<name>X</name><direction>out</direction><relatedStateVariable>V"
                                 "</relatedStateVariable><retval/>", 0, "out", "V", ""},
        {"retval first", "<retval></retval><name>X</name><direction>out</direction>", 0, "out", "", ""},
        {"name last", "<direction>in</direction><relatedStateVariable>V</relatedStateVariable><name>X</name>",
         0, "in", "V", ""},
        {"leaves the record does not keep", "<name>X</name><x:unit>%</x:unit><direction>in</direction>"
                                            "<note/><relatedStateVariable>V</relatedStateVariable>", 0, "in", "V",
         ""},
        {"comments between the leaves", "<!-- first --><name>X</name><!-- <retval/> --><direction>in"
                                        "</direction>", 0, "in", "", ""},
        {"the first name is kept", "<name>X</name><name>Y</name><direction>in</direction>", 0, "in", "", ""},
        {"dataType twice", "<name>X</name><dataType>ui4</dataType><dataType>ui2</dataType>", -1, nullptr,
         nullptr, nullptr},
        {"a container ends the argument", "<name>X</name><ext><a>1</a></ext><direction>in</direction>", 0, "",
         "", ""},
    };
    for (const Case &c : cases) {
        std::string text = std::string(c.argument) + "</argument>";
        DocBuffer b(text, kScpdDocKind);
        QNArgDesc arg{};
        ASSERT_EQ(parseArg(&b.doc, &arg), c.ret) << c.name;
        if (c.ret != 0)
            continue;
        EXPECT_STREQ(arg.name.val, "X") << c.name;
        EXPECT_STREQ(arg.direction.val, c.direction) << c.name;
        EXPECT_STREQ(arg.relatedStateVariable.val, c.related) << c.name;
        EXPECT_STREQ(arg.dataType.val, c.dataType) << c.name;
    }
    // In a whole SCPD a bad argument fails the parse.
    ScpdModel model;
    EXPECT_EQ(parse(scpd("<action><name>A</name><argumentList><argument><name>X</name><relatedStateVariable>V"
                         "</relatedStateVariable><relatedStateVariable>V</relatedStateVariable></argument>"
                         "</argumentList></action>",
                         vars(1)),
                    model.get()),
              -500);
}

TEST_F(Scpd, ActionAndListStructure)
{
    struct Case {
        const char *name;
        std::string text;
        int ret;
    };
    const Case cases[] = {
        {"action without arguments", scpd("<action><name>Stop</name></action>", ""), 0},
        {"two argument lists", scpd("<action><name>A</name><argumentList><argument><name>X</name></argument>"
                                    "</argumentList><argumentList><argument><name>Y</name></argument>"
                                    "</argumentList></action>", ""), -500},
        // Without children the list is a leaf (an empty text field), not a list.
        {"empty argument lists", scpd("<action><name>A</name><argumentList></argumentList>"
                                      "<argumentList/></action>", ""), 0},
        {"wrong list", scpd("<action><name>A</name><arguments><argument/></arguments></action>", ""), -500},
        {"wrong child of actionList", scpd("<notAnAction><name>A</name></notAnAction>", ""), -500},
        {"wrong child of serviceStateTable", scpd("", "<variable><name>V</name></variable>"), -500},
        {"unknown container under scpd", "<scpd><extra><a>1</a></extra></scpd>", -500},
        {"not an scpd", "<root><device><a>1</a></device></root>", -500},
        {"prefixed scpd", "<s:scpd xmlns:s=\"urn:x\"><actionList></actionList></s:scpd>", -500},
        {"empty document element", "<scpd/>", -500},
        {"no lists", "<scpd><specVersion><major>1</major></specVersion></scpd>", 0},
    };
    for (const Case &c : cases) {
        ScpdModel model;
        EXPECT_EQ(parse(c.text, model.get()), c.ret) << c.name;
    }
    ScpdModel empty;
    ASSERT_EQ(parse("<scpd><specVersion><major>1</major></specVersion></scpd>", empty.get()), 0);
    EXPECT_NE(write(empty.get()).find("<actionList></actionList><serviceStateTable></serviceStateTable></scpd>"),
              std::string::npos);
}

TEST_F(Scpd, VariableChildren)
{
    ScpdModel model;
    ASSERT_EQ(parse(scpd("", "<stateVariable><name>A</name><dataType>ui2</dataType><allowedValueRange>"
                             "<minimum>0</minimum><maximum>100</maximum><step>1</step></allowedValueRange>"
                             "</stateVariable>"
                             "<stateVariable><name>B</name><dataType>string</dataType><defaultValue>x"
                             "</defaultValue><allowedValueList><allowedValue>x</allowedValue>"
                             "</allowedValueList></stateVariable>"
                             "<stateVariable><allowedValueList><allowedValue>y</allowedValue>"
                             "</allowedValueList></stateVariable>"),
                    model.get()),
              0);
    const QNAllowedVals *range = model->vars[0]->allowed;
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(range->kind, AK_RANGE);
    EXPECT_EQ(range->count, 3);
    EXPECT_STREQ(range->values[2].name, "step");
    ASSERT_NE(model->vars[1]->allowed, nullptr); // after the default value
    EXPECT_STREQ(model->vars[1]->allowed->values[0].val, "x");
    // A container as first child leaves name and data type empty.
    EXPECT_STREQ(model->vars[2]->name.name, "");
    ASSERT_NE(model->vars[2]->allowed, nullptr);
    EXPECT_STREQ(model->vars[2]->allowed->values[0].val, "y");
}

TEST_F(Scpd, AllowedAndDefaultValuesAmongFurtherLeaves)
{
    struct Case {
        const char *name;
        const char *children; // after <name>V</name><dataType>ui1</dataType>
        int kind;             // -1: no allowed values
        int count;
        const char *last;
        const char *defaultValue; // nullptr: none
    };
    const Case cases[] = {
        {"default value first", "<defaultValue>0</defaultValue><allowedValueRange><minimum>0</minimum>"
                                "<maximum>100</maximum></allowedValueRange>", AK_RANGE, 2, "100", "0"},
        {"empty default value", "<defaultValue/><allowedValueList><allowedValue>a</allowedValue>"
                                "</allowedValueList>", AK_LIST, 1, "a", ""},
        {"several leaves and a comment", "<defaultValue>1</defaultValue><x:unit>%</x:unit><!-- 0..9 -->"
                                         "<allowedValueRange><minimum>0</minimum><maximum>9</maximum>"
                                         "<step>1</step></allowedValueRange>", AK_RANGE, 3, "1", "1"},
        {"empty list passed over", "<allowedValueList/><allowedValueRange><minimum>1</minimum>"
                                   "</allowedValueRange>", AK_RANGE, 1, "1", nullptr},
        {"list without values", "<defaultValue>0</defaultValue><allowedValueList></allowedValueList>", AK_LIST,
         0, nullptr, "0"},
        {"the first of two lists", "<defaultValue>0</defaultValue><allowedValueList><allowedValue>a"
                                   "</allowedValue></allowedValueList><allowedValueRange><minimum>1</minimum>"
                                   "</allowedValueRange>", AK_LIST, 1, "a", "0"},
        {"range before the default value", "<allowedValueRange><minimum>0</minimum></allowedValueRange>"
                                           "<defaultValue>5</defaultValue>", AK_RANGE, 1, "0", "5"},
        {"only a default value", "<defaultValue>0</defaultValue>", -1, 0, nullptr, "0"},
        {"another container comes first", "<defaultValue>0</defaultValue><ext><a>1</a></ext>"
                                          "<allowedValueList><allowedValue>a</allowedValue></allowedValueList>",
         -1, 0, nullptr, "0"},
        {"default value after a container", "<ext><a>1</a></ext><defaultValue>7</defaultValue>", -1, 0, nullptr,
         "7"},
    };
    for (const Case &c : cases) {
        ScpdModel model, again;
        const std::string var = std::string("<stateVariable><name>V</name><dataType>ui1</dataType>") + c.children +
                                "</stateVariable>";
        ASSERT_EQ(parse(scpd("", var + vars(1)), model.get()), 0) << c.name;
        ASSERT_EQ(model->varCount, 2) << c.name;
        EXPECT_STREQ(model->vars[0]->dataType.val, "ui1") << c.name;
        EXPECT_STREQ(model->vars[1]->name.val, "V0") << c.name << ": the next variable is read";
        const QNAllowedVals *allowed = model->vars[0]->allowed;
        if (c.kind < 0) {
            EXPECT_EQ(allowed, nullptr) << c.name;
        } else {
            ASSERT_NE(allowed, nullptr) << c.name;
            EXPECT_EQ(allowed->kind, c.kind) << c.name;
            ASSERT_EQ(allowed->count, c.count) << c.name;
            if (c.count > 0) {
                EXPECT_STREQ(allowed->values[c.count - 1].val, c.last) << c.name;
            }
        }
        const QNNameVal &def = model->vars[0]->defaultValue;
        EXPECT_STREQ(def.name, c.defaultValue != nullptr ? "defaultValue" : "") << c.name;
        EXPECT_STREQ(def.val, c.defaultValue != nullptr ? c.defaultValue : "") << c.name;
        // What was kept is written and reads back the same.
        ASSERT_EQ(parse(write(model.get()), again.get()), 0) << c.name;
        EXPECT_EQ(qntest::diffScpd(*model.get(), *again.get()), "") << c.name;
    }
}

TEST_F(Scpd, ValuesWithEntitiesRoundTrip)
{
    ScpdModel model, again;
    ASSERT_EQ(parse(scpd("<action><name>Say&amp;Do</name></action>",
                         "<stateVariable><name>V</name><dataType>string</dataType><allowedValueList>"
                         "<allowedValue>&lt;b&gt;</allowedValue><allowedValue>R&amp;B</allowedValue>"
                         "</allowedValueList></stateVariable>"),
                    model.get()),
              0);
    EXPECT_STREQ(model->actions[0]->name.val, "Say&Do");
    EXPECT_STREQ(model->vars[0]->allowed->values[0].val, "<b>");
    const std::string written = write(model.get());
    EXPECT_NE(written.find("<allowedValue>&lt;b&gt;</allowedValue><allowedValue>R&amp;B</allowedValue>"),
              std::string::npos);
    ASSERT_EQ(parse(written, again.get()), 0);
    EXPECT_EQ(qntest::diffScpd(*model.get(), *again.get()), "");
}

TEST_F(Scpd, RecordsWithNothingToWriteAreLeftOut)
{
    ScpdModel model;
    ASSERT_EQ(parse(scpd("<action><x:name>A</x:name><argumentList><argument><y:name>B</y:name></argument>"
                         "</argumentList></action><action><name>Kept</name><argumentList><argument><z:n>1</z:n>"
                         "</argument></argumentList></action>",
                         "<stateVariable sendEvents=\"no\"><p:name>V</p:name><iconList><i>1</i></iconList>"
                         "</stateVariable><stateVariable><name>W</name></stateVariable>"),
                    model.get()),
              0);
    EXPECT_EQ(model->actionCount, 2);
    EXPECT_EQ(model->varCount, 2);
    const std::string written = write(model.get());
    EXPECT_NE(written.find("<actionList><action><name>Kept</name></action></actionList><serviceStateTable>"
                           "<stateVariable sendEvents=\"yes\"><name>W</name></stateVariable></serviceStateTable>"),
              std::string::npos)
        << written;
    ScpdModel again;
    ASSERT_EQ(parse(written, again.get()), 0);
    EXPECT_EQ(write(again.get()), written);
}

// ---- Reuse, release, hostile text ---------------------------------------------------

TEST_F(Scpd, ParsingAgainReusesTheRecords)
{
    ScpdModel model;
    ASSERT_EQ(parse(qntest::fixture("scpd/AVTransport2.xml"), model.get()), 0);
    QNActionDesc *firstAction = model->actions[0];
    ASSERT_EQ(parse(qntest::fixture("devices/network-light/SwitchPower-scpd.xml"), model.get()), 0);
    EXPECT_EQ(model->actions[0], firstAction);
    ScpdModel fresh;
    ASSERT_EQ(parse(qntest::fixture("devices/network-light/SwitchPower-scpd.xml"), fresh.get()), 0);
    EXPECT_EQ(qntest::diffScpd(*model.get(), *fresh.get()), "");
    for (int i = 0; i < model->varCount; ++i)
        EXPECT_EQ(model->vars[i]->allowed, nullptr);
    // Records beyond the counts stay in their slots until freeScpd.
    ASSERT_EQ(freeScpd(model.get()), 0);
    EXPECT_EQ(model->actionCount, 0);
    EXPECT_EQ(model->actions[20], nullptr);
    EXPECT_EQ(freeScpd(nullptr), QN_ERR_ARG);
}

TEST_F(Scpd, DocumentOf64KiBIsRead)
{
    // 128 variables after a comment that pushes them past the 16-bit
    // offsets of the original design: the text is kMaxDocument bytes.
    std::string head = "<?xml version=\"1.0\"?>\n<scpd><actionList>" + actions(kMaxActions, 4) + "</actionList><!-- ";
    std::string tail = " --><serviceStateTable>" + vars(kMaxStateVars) + "</serviceStateTable></scpd>";
    ASSERT_LT(head.size() + tail.size(), kMaxDocument);
    std::string text = head + std::string(kMaxDocument - head.size() - tail.size(), 'p') + tail;
    ASSERT_EQ(text.size(), kMaxDocument);
    ScpdModel model;
    ASSERT_EQ(parse(text, model.get()), 0);
    EXPECT_EQ(model->actionCount, kMaxActions);
    EXPECT_EQ(model->actions[kMaxActions - 1]->argCount, 4);
    ASSERT_EQ(model->varCount, kMaxStateVars);
    EXPECT_STREQ(model->vars[kMaxStateVars - 1]->name.val, "V127");
}

TEST_F(Scpd, EveryCutOfARealScpdFailsCleanly)
{
    const std::string text = qntest::fixture("devices/minidlna/X_MS_MediaReceiverRegistrar.xml");
    const size_t closing = text.rfind("</scpd>") + std::strlen("</scpd>");
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        ScpdModel model;
        ASSERT_EQ(parse(text.substr(0, cut), model.get()), cut >= closing ? 0 : -500) << "cut at " << cut;
    }
}

TEST_F(Scpd, WriterStaysInsideASmallBuffer)
{
    ScpdModel model;
    ASSERT_EQ(parse(qntest::fixture("scpd/AVTransport2.xml"), model.get()), 0);
    std::vector<char> buf(4096 + 64, '#');
    QNTextDoc doc = kScpdDocKind;
    docInitWrite(&doc, buf.data(), 4096);
    EXPECT_EQ(writeScpd(&doc, model.get()), QN_ERR_NOMEM);
    EXPECT_EQ(std::strlen(buf.data()), 4095u);
    for (size_t i = 4096; i < buf.size(); ++i)
        ASSERT_EQ(buf[i], '#');
}

} // namespace
