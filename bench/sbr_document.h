// Generated SBR facts documents for the import's benchmarks, written once per size into a
// temporary directory of their own and removed, with their directories, when the set goes.
//
// A document has a unit, one context per 100 facts (two explicit members, so that every context
// has a converted name of its own) written before its block of facts, one DIN (in the first
// context), facts named Item0 to Item99 in every context, and a withholding tuple per 50 facts.
#pragma once

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <utility>

#include <glib.h>

namespace sbr_bench {

struct Document {
    std::string path;
    long bytes = 0;
    long facts = 0;
};

class Documents {
public:
    Documents() = default;
    Documents(const Documents &) = delete;
    Documents &operator=(const Documents &) = delete;
    ~Documents()
    {
        for (const auto &[key, d] : made_) {
            std::remove(d.path.c_str());
            std::remove(d.path.substr(0, d.path.rfind('/')).c_str());
        }
    }

    // The document of exactly facts facts.
    const Document &of_facts(long facts) { return made(Limit::Facts, facts); }
    // The document of about mib MiB (the facts that fit, and the closing tag).
    const Document &of_mib(long mib) { return made(Limit::Bytes, mib << 20); }

private:
    enum class Limit { Facts, Bytes };

    const Document &made(Limit limit, long amount)
    {
        Document &d = made_[{limit, amount}];
        if (!d.path.empty()) return d;
        char *dir = g_dir_make_tmp("sbr-bench-XXXXXX", nullptr);
        d.path = std::string(dir ? dir : "/tmp") + "/facts" + std::to_string(amount) + ".xml";
        g_free(dir);
        std::ofstream out(d.path);
        write(out, limit, amount, d);
        d.bytes = static_cast<long>(out.tellp());
        return d;
    }

    static void write(std::ofstream &out, Limit limit, long amount, Document &d)
    {
        out << "<?xml version=\"1.0\"?>\n<xbrli:xbrl xmlns:xbrli=\"http://www.xbrl.org/2003/instance\""
               " xmlns:xbrldi=\"http://xbrl.org/2006/xbrldi\" xmlns:t=\"http://sbr.gov.au/t\">\n"
               "<xbrli:unit id=\"AUD\"><xbrli:measure>iso4217:AUD</xbrli:measure></xbrli:unit>\n";
        const auto more = [&](long i) { return limit == Limit::Facts ? i < amount : static_cast<long>(out.tellp()) < amount; };
        for (long i = 0; more(i); ++i) {
            if (i % 100 == 0) context(out, i / 100);
            out << "<t:Item" << i % 100 << " contextRef=\"c" << i / 100 << "\" unitRef=\"AUD\" isEditable=\"true\""
                << " isVisible=\"true\">" << i * 7 << ".50</t:Item" << i % 100 << ">\n";
            if (i % 50 == 49)
                out << "<t:ITPAYGWithholdingDetails><t:IncomeTax.PayAsYouGoWithholding.PaymentType.Code>P" << i
                    << "</t:IncomeTax.PayAsYouGoWithholding.PaymentType.Code><t:IncomeTax.PayAsYouGoWithholding."
                       "TaxWithheld.Amount contextRef=\"c0\" isEditable=\"false\" isVisible=\"true\">"
                    << i << "</t:IncomeTax.PayAsYouGoWithholding.TaxWithheld.Amount></t:ITPAYGWithholdingDetails>\n";
            d.facts = i + 1;
        }
        out << "</xbrli:xbrl>\n";
    }

    static void context(std::ofstream &out, long c)
    {
        out << "<xbrli:context id=\"c" << c << "\"><xbrli:entity><xbrli:identifier scheme=\"abn\">" << 10000 + c
            << "</xbrli:identifier><xbrli:segment><xbrldi:explicitMember dimension=\"d:P\">d:Party"
            << char('A' + c / 676 % 26) << char('A' + c / 26 % 26) << char('A' + c % 26)
            << "</xbrldi:explicitMember><xbrldi:explicitMember dimension=\"d:R\">d:Reporting</xbrldi:explicitMember>"
               "</xbrli:segment></xbrli:entity><xbrli:period><xbrli:instant>2026-06-30</xbrli:instant></xbrli:period>"
               "</xbrli:context>\n";
        if (c == 0)  // after its context, which gets the DIN
            out << "<t:BusinessDocument.GovernmentGeneratedIdentifier.Text contextRef=\"c0\">DIN-1"
                   "</t:BusinessDocument.GovernmentGeneratedIdentifier.Text>\n";
    }

    std::map<std::pair<Limit, long>, Document> made_;
};

} // namespace sbr_bench
