// Template expansion: section flags and the output of every marker.
#include "expand.h"

namespace {

void appendFileTable(const GenPlan &plan, std::string *out)
{
    const std::string &lf = plan.lf;
    *out += "\t{ WEB_PATH \"" + cStringOf(plan.descName) + "\", " + plan.brief + "Desc_xml }," + lf;
    for (const ScpdFile &scpd : plan.scpds)
        *out += "\t{ WEB_PATH \"" + cStringOf(scpd.file) + "\"," + " " + scpd.ident + " }," + lf;
}

void appendEmbeddedFiles(const GenPlan &plan, std::string *out)
{
    const std::string &lf = plan.lf;
    *out += "static char " + plan.brief + "Desc_xml[] = " + lf + "#include \"" + plan.descIdent + ".h\"" + lf + ";" +
            lf;
    for (const ScpdFile &scpd : plan.scpds)
        *out += "static char " + scpd.ident + "[] = " + lf + "#include \"" + scpd.ident + ".h\"" + lf + ";" + lf;
}

void appendRows(const std::vector<TableRow> &rows, const char *callbackPrefix, const std::string &lf,
                std::string *out)
{
    for (const TableRow &row : rows)
        *out += "\t\t{ \"" + cStringOf(row.name) + "\", " + callbackPrefix + row.ident + " }," + lf;
}

void appendMarker(TemplateTag tag, const GenPlan &plan, std::string *out)
{
    const GenOptions &opts = *plan.opts;
    switch (tag) {
    case TT_GLF: *out += plan.lf; break;
    case TT_GIH:
        for (const ScpdFile &scpd : plan.scpds)
            *out += "#include \"" + scpd.cbBase + ".h\"" + plan.lf;
        break;
    case TT_GFN: *out += cStringOf(plan.descName); break;
    case TT_GPB: *out += plan.prefix; break;
    case TT_GLP: *out += cStringOf(plan.localPath); break;
    case TT_GFB: appendEmbeddedFiles(plan, out); break;
    case TT_GFI: appendFileTable(plan, out); break;
    case TT_GACC: appendRows(plan.actionRows, "qnActionCB_", plan.lf, out); break;
    case TT_GVCC: appendRows(plan.varRows, "qnQueryCB_", plan.lf, out); break;
    case TT_GIA: *out += cStringOf(opts.ipAddr); break;
    case TT_GWP: *out += std::to_string(opts.devPort); break;
    case TT_GGP: *out += std::to_string(opts.cpEventPort); break;
    case TT_GSP: *out += std::to_string(opts.cpExtraPort); break;
    case TT_GSN: *out += cStringOf(opts.entityName); break;
    case TT_GRF: expandTemplate(readFileTemplate(), plan, out, false); break;
    case TT_GCL: expandTemplate(cmdLoopTemplate(), plan, out, false); break;
    case TT_GCLF: expandTemplate(cmdLoopFuncsTemplate(), plan, out, false); break;
    default: break;
    }
}

} // namespace

void expandTemplate(const TemplateChunks &tpl, const GenPlan &plan, std::string *out, bool sections)
{
    bool isDevice = plan.opts->isDevice != 0;
    bool deviceText = true;
    bool cpText = true;
    for (std::string_view chunk : tpl) {
        TemplateTag tag = matchTag(chunk);
        if (sections && tag >= TT_SDB) {
            deviceText = tag != TT_SCPB;
            cpText = tag != TT_SDB;
            continue;
        }
        if (tag >= TT_SDB)
            continue; // a section tag emits nothing
        if (sections && !((deviceText && isDevice) || (cpText && !isDevice)))
            continue;
        if (tag == TT_TEXT)
            out->append(chunk);
        else
            appendMarker(tag, plan, out);
    }
}

void writeBanner(const GenPlan &plan, std::string *out)
{
    expandTemplate(bannerTemplate(), plan, out, false);
}
