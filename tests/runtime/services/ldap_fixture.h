// A fixture for in-process tests of the directory intrinsics against this test program's private
// slapd: the intrinsics are called through the numeric dispatcher with value-stack entries, as the
// executor calls them. Every test starts with the local group "oska" (gid 4242) in a group file of
// its own and with an empty cache; fatal reports throw lumba_test::AbortError and mails are
// recorded (test_report_sink.cpp).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

#include <glib.h>

#include "directory.h"
#include "intrinsic_call.h"
#include "message.h"
#include "slapd.h"

inline constexpr const char *BASE = "dc=example,dc=test";
inline constexpr const char *GROUP = "cn=x2gousers,ou=Groups,dc=example,dc=test";
inline constexpr const char *LOCAL_GROUPS = "root:x:0:\noska:x:4242:\n";

inline std::string people_dn(const std::string &uid) { return "uid=" + uid + ",ou=People," + BASE; }
inline std::string rpc_dn(const std::string &uid) { return "uid=" + uid + ",ou=Rpcs," + BASE; }
inline std::string unit(const std::string &ou) { return "ou=" + ou + "," + BASE; }

// The 16 person arguments after the connection information, by position.
enum PersonArg { UID, SN, GN, FULL, TITLE, TEL, MOBILE, MAIL, FAX, LINE1, LINE2, LOCALITY, STATE, POSTCODE, FINAL, PHOTO };
using Person = std::array<std::string, 16>;
// A person with a uid, a surname, a given and a full name and nothing else.
inline Person person(const std::string &uid)
{
    return {uid, "Doe", "Jane", "Jane Doe " + uid, "", "", "", "", "", "", "", "", "", "", "", ""};
}

// The 14 organisation arguments after the connection information, by position.
enum OrgArg { NAME, DISPLAY, OTEL, OFAX, OMOBILE, OMAIL, WEB, OLINE1, OLINE2, OLOCALITY, OSTATE, OPOSTCODE, OFINAL, OPHOTO };
using Organisation = std::array<std::string, 14>;
inline Organisation organisation(const std::string &name, const std::string &display)
{
    return {name, display, "", "", "", "info@acme.test", "", "", "", "", "", "", "", ""};
}

class LdapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Back_ground = 1;
        Lumba_Log_Level = -1;
        lumba_test::mailed().clear();
        lumba_test::mail_reports().clear();
        lumba_test::set_group_file(LOCAL_GROUPS);
        lumba_test::slapd();
    }

    void TearDown() override
    {
        for (const auto &f : files_) std::remove(f.c_str());
        ldap_cleanup();
        Lumba_Log_Level = -1;
    }

public:
    // An intrinsic through the numeric dispatcher with text arguments; its value.
    long call(int code, const std::vector<std::string> &args)
    {
        std::vector<lumba_test::Arg> texts;
        for (const std::string &a : args) texts.push_back(lumba_test::args::str(a));
        return calls_.numeric(code, texts);
    }
    // The same with the connection information of the test server in front.
    long ldap(int code, std::vector<std::string> args)
    {
        args.insert(args.begin(), info);
        return call(code, args);
    }
    long ldap(int code, std::initializer_list<std::string> args) { return ldap(code, std::vector<std::string>(args)); }
    long ldap(int code, const Person &p) { return ldap(code, std::vector<std::string>(p.begin(), p.end())); }
    long ldap(int code, const Organisation &o) { return ldap(code, std::vector<std::string>(o.begin(), o.end())); }

    // The lines the run-time log (levels 0 to 3) gets while f runs, without their time prefix.
    template <class F> static std::vector<std::string> log_of(F &&f)
    {
        Lumba_Log_Level = 3;
        testing::internal::CaptureStderr();
        try {
            f();
        } catch (...) {
            testing::internal::GetCapturedStderr();
            Lumba_Log_Level = -1;
            throw;
        }
        const std::string text = testing::internal::GetCapturedStderr();
        Lumba_Log_Level = -1;
        static const std::regex prefix(R"(^-?\d+ \d\d:\d\d\.\d{6}  )");
        std::vector<std::string> lines;
        std::string::size_type start = 0, end;
        while ((end = text.find('\n', start)) != std::string::npos) {
            const std::string line = text.substr(start, end - start);
            std::smatch m;
            lines.push_back(std::regex_search(line, m, prefix) ? std::string(m.suffix()) : line);
            start = end + 1;
        }
        return lines;
    }

    // The texts mailed to the support address.
    static std::vector<std::string> support_mails()
    {
        std::vector<std::string> v;
        for (const auto &m : lumba_test::mail_reports())
            if (m.recipient == SUPPORT_ADDRESS) v.push_back(m.text);
        return v;
    }

    // A file of the test's own holding bytes (removed after the test).
    std::string file_with(const std::string &bytes)
    {
        char *path = nullptr;
        const int fd = g_file_open_tmp("lumba-ldap-XXXXXX", &path, nullptr);
        EXPECT_GE(fd, 0);
        if (fd >= 0) close(fd);
        files_.push_back(path ? path : "");
        g_free(path);
        std::ofstream(files_.back(), std::ios::binary) << bytes;
        return files_.back();
    }

    static lumba_test::Slapd &server() { return lumba_test::slapd(); }
    static std::vector<std::string> values(const std::string &dn, const std::string &attr)
    {
        return server().values(dn, attr);
    }
    using Values = std::vector<std::string>;

    std::string info = lumba_test::Slapd::ldapinfo();

private:
    std::vector<std::string> files_;
    lumba_test::IntrinsicCall calls_;
};
