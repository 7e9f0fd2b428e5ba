// commands_test.cc: each drtool subcommand run on the lobby sample, its output compared with
// literal bytes or with what the library itself writes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "dr/typelib/image.h"
#include "tests/support/image_builder.h"
#include "tests/tools/run.h"

namespace {

using drtest::drtool;
using drtest::sample;

const char *const kHosts[] = {"login.host", "chat.host", "roster.host", "ping.host"};

// What a library call writes to a stream.
std::string captured(const std::function<void(FILE *)> &write) {
    FILE *fp = std::tmpfile();
    write(fp);
    std::string text(static_cast<size_t>(std::ftell(fp)), '\0');
    std::rewind(fp);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), fp), text.size());
    std::fclose(fp);
    return text;
}

class DrtoolOnSample : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(dr_load_lib_file(&lib_, lib_path_.c_str()), 0);
        ASSERT_EQ(dr_meta_by_name(lib_, "Message", &message_), 0);
    }
    void TearDown() override { dr_free_lib(lib_); }

    // The library's own rendering of a committed host record.
    std::string render(const char *host_file, bool xml, int version = 0) {
        std::vector<uint8_t> host = drtest::read_file(sample(host_file));
        DrBuffer buf{reinterpret_cast<char *>(host.data()), static_cast<int32_t>(host.size())};
        return captured([&](FILE *fp) {
            EXPECT_EQ(xml ? dr_print_data_xml(message_, fp, &buf, version) : dr_print_data(message_, fp, &buf, version),
                      0);
        });
    }

    const std::string lib_path_ = sample("proto.tlb");
    DrLib *lib_ = nullptr;
    const DrMeta *message_ = nullptr;
};

// The login message: head, then the body chosen by cmd 1, whose length 0x2b the encoder
// wrote at offset 2; strings carry a 4-byte length and their NUL.
const std::vector<uint8_t> kLoginNet = {
    0x4c, 0x42, 0x00, 0x2b, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,               // magic bodyLen cmd seq
    0x00, 0x00, 0x27, 0x11,                                                   // uin 10001
    0x00, 0x00, 0x00, 0x06, 'a', 'l', 'i', 'c', 'e', 0x00,                    // account
    0x00, 0x00, 0x00, 0x07, 's', '3', 'c', 'r', 'e', 't', 0x00,               // password
    0x00, 0x00, 0x00, 0x1e,                                                   // clientVersion 30
    0x00, 0x00, 0x00, 0x08, 'p', 'i', 'x', 'e', 'l', '-', '7', 0x00,          // device (version 2)
    0x04, 0x09,                                                               // locale 1033 (version 3)
};

TEST_F(DrtoolOnSample, EncodeWritesTheNetworkFormOrItsHexDump) {
    const std::string dir = drtest::scratch_dir("encode");
    const drtest::Run to_file = drtool({"encode", lib_path_, "Message", sample("login.host"), "-o", dir + "/l.net"});
    EXPECT_EQ(to_file.status, 0) << to_file.err;
    EXPECT_EQ(to_file.out + to_file.err, "");
    EXPECT_EQ(drtest::read_file(dir + "/l.net"), kLoginNet);

    const drtest::Run dump = drtool({"encode", lib_path_, "40", sample("login.host")});
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.err, "");
    EXPECT_EQ(dump.out,
              "00000000  4c 42 00 2b 00 01 00 00  00 01 00 00 27 11 00 00  |LB.+........'...|\n"
              "00000010  00 06 61 6c 69 63 65 00  00 00 00 07 73 33 63 72  |..alice.....s3cr|\n"
              "00000020  65 74 00 00 00 00 1e 00  00 00 08 70 69 78 65 6c  |et.........pixel|\n"
              "00000030  2d 37 00 04 09                                    |-7...|\n"
              "53 bytes\n");
}

TEST_F(DrtoolOnSample, OlderVersionsLeaveTheNewerMembersOut) {
    const std::string dir = drtest::scratch_dir("older");
    // Version 1 has neither device nor locale, version 2 has device; bodyLen follows.
    std::vector<uint8_t> v1(kLoginNet.begin(), kLoginNet.begin() + 39);
    v1[3] = 29;
    std::vector<uint8_t> v2(kLoginNet.begin(), kLoginNet.begin() + 51);
    v2[3] = 41;
    for (const auto &[version, expected] : {std::pair{"1", v1}, std::pair{"2", v2}, std::pair{"3", kLoginNet}}) {
        const std::string net = dir + "/v" + version + ".net";
        EXPECT_EQ(drtool({"encode", lib_path_, "Message", sample("login.host"), "-v", version, "-o", net}).status, 0);
        EXPECT_EQ(drtest::read_file(net), expected) << "version " << version;
    }
}

TEST_F(DrtoolOnSample, DecodeGivesEverySampleRecordBack) {
    const std::string dir = drtest::scratch_dir("roundtrip");
    for (const char *host : kHosts) {
        const std::string net = dir + "/" + host + ".net", back = dir + "/" + host + ".back";
        ASSERT_EQ(drtool({"encode", lib_path_, "Message", sample(host), "-o", net}).status, 0) << host;
        const drtest::Run r = drtool({"decode", lib_path_, "Message", net, "-o", back});
        EXPECT_EQ(r.status, 0) << host << r.err;
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_EQ(drtest::read_file(back), drtest::read_file(sample(host))) << host;
    }
}

TEST_F(DrtoolOnSample, DecodeWithoutOutputFileDumpsTheHostRecord) {
    const std::string net = drtest::scratch_dir("decode_dump") + "/login.net";
    drtest::write_bytes(net, kLoginNet);
    const drtest::Run r = drtool({"decode", lib_path_, "Message", net});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // 822 bytes, most of them zero: equal lines fold into one "*", the last one stays.
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
              "00000000  42 4c 2b 00 01 00 01 00  00 00 11 27 00 00 61 6c  |BL+........'..al|\n");
    EXPECT_NE(r.out.find("\n*\n"), std::string::npos);
    EXPECT_NE(r.out.find("\n00000330  "), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 10), "822 bytes\n");
}

TEST_F(DrtoolOnSample, DecodeOfAnOlderVersionLeavesNewerMembersZero) {
    const std::string dir = drtest::scratch_dir("decode_old");
    std::vector<uint8_t> v1(kLoginNet.begin(), kLoginNet.begin() + 39);
    v1[3] = 29;
    drtest::write_bytes(dir + "/v1.net", v1);
    ASSERT_EQ(drtool({"decode", lib_path_, "Message", dir + "/v1.net", "-v", "1", "-o", dir + "/v1.host"}).status, 0);
    std::vector<uint8_t> expected = drtest::read_file(sample("login.host"));
    expected[2] = 29;                                           // bodyLen as sent
    std::fill(expected.begin() + 82, expected.begin() + 100, 0);  // device and locale
    EXPECT_EQ(drtest::read_file(dir + "/v1.host"), expected);
}

TEST_F(DrtoolOnSample, FailedEncodeAndDecodeSayWhereTheyStopped) {
    const std::string dir = drtest::scratch_dir("codec_fail");
    // The account string fills its 32 bytes without a NUL: the walk stops on it.
    std::vector<uint8_t> host = drtest::read_file(sample("login.host"));
    std::fill(host.begin() + 14, host.begin() + 46, 'a');
    drtest::write_bytes(dir + "/nonul.host", host);
    drtest::Run r = drtool({"encode", lib_path_, "Message", dir + "/nonul.host"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "drtool: encoding Message failed: a string has no NUL within its capacity, or its network length "
                     "is wrong (network offset 14, host offset 14)\n");

    // Two players said to be 200: the count member's reason, at the array it governs.
    host = drtest::read_file(sample("roster.host"));
    host[12] = 200;
    drtest::write_bytes(dir + "/over.host", host);
    r = drtool({"encode", lib_path_, "Message", dir + "/over.host"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "drtool: encoding Message failed: a count member holds a negative count or one above the "
                     "declared count (network offset 14, host offset 14)\n");

    // Cut inside the password: account was read (10 network, 32 host bytes).
    drtest::write_bytes(dir + "/cut.net", {kLoginNet.begin(), kLoginNet.begin() + 30});
    r = drtool({"decode", lib_path_, "Message", dir + "/cut.net", "-o", dir + "/cut.host"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "drtool: decoding Message failed: the network buffer ends before the record does (network "
                     "offset 24, host offset 46)\n");

    for (const char *cmd : {"encode", "decode", "print"}) {
        r = drtool({cmd, lib_path_, "Message", sample("login.host"), "-v", "-1"});
        EXPECT_EQ(r.status, 1) << cmd;
        EXPECT_EQ(r.err, "drtool: type Message starts at version 1, after the requested version -1\n") << cmd;
    }
}

TEST_F(DrtoolOnSample, DecodeNotesBytesAfterTheRecord) {
    const std::string dir = drtest::scratch_dir("trailing");
    std::vector<uint8_t> net = kLoginNet;
    net.insert(net.end(), {1, 2, 3});
    drtest::write_bytes(dir + "/long.net", net);
    const drtest::Run r = drtool({"decode", lib_path_, "Message", dir + "/long.net", "-o", dir + "/long.host"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "drtool: note: the last 3 bytes of " + dir + "/long.net follow the record and were not read\n");
    EXPECT_EQ(drtest::read_file(dir + "/long.host"), drtest::read_file(sample("login.host")));
}

// The ping message: a 10-byte head whose 2-byte field at offset 2 gives the length of the
// body that follows. Its length field is made to disagree with the body's members.
TEST_F(DrtoolOnSample, DecodeSaysWhatABodyLengthFieldDid) {
    const std::string dir = drtest::scratch_dir("length_field");
    ASSERT_EQ(drtool({"encode", lib_path_, "Message", sample("ping.host"), "-o", dir + "/ping.net"}).status, 0);
    const std::vector<uint8_t> ping = drtest::read_file(dir + "/ping.net");
    ASSERT_EQ(ping.size(), 26u);
    ASSERT_EQ(ping[2] * 256 + ping[3], 16);
    auto decode = [&](std::vector<uint8_t> net, int body_len) {
        net[2] = static_cast<uint8_t>(body_len >> 8);
        net[3] = static_cast<uint8_t>(body_len);
        drtest::write_bytes(dir + "/x.net", net);
        return drtool({"decode", lib_path_, "Message", dir + "/x.net", "-o", dir + "/x.host"});
    };
    const std::string field = "the 2-byte length field of Message.body at network offset 2 announces ";
    std::vector<uint8_t> padded = ping;
    padded.insert(padded.end(), 4, 0);
    drtest::Run r = decode(padded, 20);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "drtool: note: " + field + "20 bytes, more than the 16 its members took: the 4 bytes after them "
                     "were passed over\n");
    // The last 4 bytes were read as members, though the length field ends the body before them.
    r = decode(ping, 12);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "drtool: note: " + field + "12 bytes, fewer than the 16 its members took: decoding went back "
                     "to offset 22, where the length says the element ends\n");
    // A length past the end is named, with offsets that lie inside the input.
    r = decode(ping, 4096);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "drtool: decoding Message failed: " + field + "4096 bytes from offset 10, past the end of the "
                     "26-byte input (network offset 2, host offset 26)\n");
    EXPECT_EQ(decode(ping, 16).err, "");
}

TEST_F(DrtoolOnSample, SummaryIsTheLibrarysListing) {
    const drtest::Run r = drtool({"summary", lib_path_});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, captured([&](FILE *fp) { dr_print_lib_summary(fp, lib_); }));
    EXPECT_EQ(r.out.rfind("\nLIB(\"lobby\"): ID=1 ver=3 Metas 10/10 Macros:8/8 pad:0:\n\n"
                          "Macro Name=\"CMD_CHAT\" id=3\n",
                          0),
              0u);
}

TEST_F(DrtoolOnSample, XmlIsTheLibrarysDescription) {
    const std::string expected = captured([&](FILE *fp) { EXPECT_EQ(dr_print_lib_xml(lib_, fp), 0); });
    EXPECT_EQ(expected.rfind("<typelib name=\"lobby\" id=\"1\" version=\"3\" >\n", 0), 0u);
    const drtest::Run r = drtool({"xml", lib_path_});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, expected);

    const std::string file = drtest::scratch_dir("xml") + "/lobby.xml";
    const drtest::Run to_file = drtool({"xml", lib_path_, "-o", file});
    EXPECT_EQ(to_file.status, 0);
    EXPECT_EQ(to_file.out + to_file.err, "");
    EXPECT_EQ(drtest::read_text(file), expected);

    const drtest::Run bad = drtool({"xml", lib_path_, "-o", "/nonexistent/lobby.xml"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "drtool: cannot create /nonexistent/lobby.xml: No such file or directory\n");
}

// The C name the header gives a member: the base type row's prefix (array prefix when the
// count is not 1) before the name with its first letter raised, or the name with its first
// letter lowered when there is no prefix (or the name is a single letter).
std::string c_member(const DrEntry &e) {
    const DrBaseType *row = dr_type_at(e.type);
    const std::string prefix = std::strlen(e.name) < 2 ? "" : e.count == 1 ? row->prefix : row->arrprefix;
    std::string name = e.name;
    name[0] = static_cast<char>(prefix.empty() ? std::tolower(name[0]) : std::toupper(name[0]));
    return prefix + name;
}

// Upper-case typedef names of every type with their datasize, and every member's offset,
// checked by the C compiler.
std::string layout_asserts(const DrLib *lib) {
    std::string out;
    for (int32_t i = 0; i < dr::header(lib)->meta_count; ++i) {
        const DrMeta *m = dr::meta_of_row(lib, i);
        std::string name = m->name;
        for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        out += "_Static_assert(sizeof(" + name + ") == " + std::to_string(m->datasize) + ", \"" + name + "\");\n";
        for (int32_t k = 0; k < m->count; ++k)
            out += "_Static_assert(offsetof(" + name + ", " + c_member(m->entries[k]) + ") == " +
                   std::to_string(m->entries[k].off) + ", \"" + name + "." + m->entries[k].name + "\");\n";
    }
    return out;
}

TEST_F(DrtoolOnSample, HeaderIsTheLibrarysAndCompilesToTheTypelibsLayout) {
    const std::string dir = drtest::scratch_dir("header");
    const drtest::Run r = drtool({"header", lib_path_, dir + "/lobby.h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    // The library writes the same headers: the portable one, and with --classic the classic.
    ASSERT_EQ(dr_write_header_file_ex(lib_, (dir + "/lib.h").c_str(), nullptr, DR_HEADER_PORTABLE), 0);
    ASSERT_EQ(drtool({"header", lib_path_, dir + "/classic.h", "--classic"}).status, 0);
    ASSERT_EQ(dr_write_header_file(lib_, (dir + "/lib_classic.h").c_str(), nullptr), 0);
    const std::string header = drtest::read_text(dir + "/lobby.h");
    const auto guarded = [](std::string text, const std::string &from, const std::string &to) {
        for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
        return text;
    };
    EXPECT_EQ(header, guarded(drtest::read_text(dir + "/lib.h"), "LIB_H", "LOBBY_H"));
    EXPECT_EQ(drtest::read_text(dir + "/classic.h"), guarded(drtest::read_text(dir + "/lib_classic.h"), "LIB_CLASSIC_H", "CLASSIC_H"));
    // The guard comes from the file name, not from the directories before it.
    EXPECT_NE(header.find("\n#ifndef LOBBY_H\n#define LOBBY_H\n"), std::string::npos);
    EXPECT_NE(header.find("#define MAX_NAME_LEN"), std::string::npos);

    // The header compiles on this 64-bit host as it is, with the typelib's layout.
    const std::string program = "#include <stddef.h>\n#include \"lobby.h\"\n" + layout_asserts(lib_) +
                                "int main(void) { MESSAGE m = {0}; return m.wCmd; }\n";
    std::ofstream(dir + "/check.c") << program;
    const drtest::Run cc = drtest::run_program(
        C_COMPILER, {"-std=c11", "-Wall", "-Werror", "-I", dir, "-c", dir + "/check.c", "-o", dir + "/check.o"});
    EXPECT_EQ(cc.status, 0) << cc.err;

    ASSERT_EQ(drtool({"header", lib_path_, dir + "/prefixed.h", "--prefix", "m_"}).status, 0);
    EXPECT_NE(drtest::read_text(dir + "/prefixed.h").find(" m_nHeading;"), std::string::npos);
    ASSERT_EQ(drtool({"header", lib_path_, dir + "/my-proto.v2.h", "--classic"}).status, 0);
    EXPECT_NE(drtest::read_text(dir + "/my-proto.v2.h").find("\n#ifndef MY_PROTO_V2_H\n"), std::string::npos);
    const drtest::Run bad = drtool({"header", lib_path_, "/nonexistent/lobby.h"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "drtool: cannot create /nonexistent/lobby.h: No such file or directory\n");
}

TEST_F(DrtoolOnSample, PrintRendersAsTheLibraryDoes) {
    for (const char *host : kHosts) {
        for (const bool xml : {false, true}) {
            std::vector<std::string> args = {"print", lib_path_, "Message", sample(host)};
            if (xml) args.push_back("--xml");
            const drtest::Run r = drtool(args);
            EXPECT_EQ(r.status, 0) << host;
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.out, render(host, xml)) << host << (xml ? " as XML" : " as text");
        }
    }
    EXPECT_EQ(drtool({"print", lib_path_, "Message", sample("roster.host"), "-v", "1"}).out,
              render("roster.host", false, 1));
}

TEST_F(DrtoolOnSample, PrintOfTheLoginMessage) {
    const std::string host = sample("login.host");
    EXPECT_EQ(drtool({"print", lib_path_, "Message", host}).out,
              "[Message]: magic=19522  bodyLen=43  cmd=1  seq=1  uin=10001  account=\"alice\" "
              "password=\"s3cret\" clientVersion=30  device=\"pixel-7\" locale=1033 \n");
    EXPECT_EQ(drtool({"print", lib_path_, "Message", host, "-v", "1"}).out,
              "[Message]: magic=19522  bodyLen=43  cmd=1  seq=1  uin=10001  account=\"alice\" "
              "password=\"s3cret\" clientVersion=30 \n");
    // The password is marked to stay out of XML.
    EXPECT_EQ(drtool({"print", lib_path_, "Message", host, "--xml"}).out,
              "<Message>\n<magic> 19522 </magic>\n<bodyLen> 43 </bodyLen>\n<cmd> 1 </cmd>\n<seq> 1 </seq>\n"
              "\n<LoginReq>\n<uin> 10001 </uin>\n<account>alice</account>\n<clientVersion> 30 </clientVersion>\n"
              "<device>pixel-7</device>\n<locale> 1033 </locale>\n</LoginReq>\n</Message>\n");
}

TEST_F(DrtoolOnSample, FailedRenderingSaysWhereItStopped) {
    const std::string dir = drtest::scratch_dir("print_fail");
    std::vector<uint8_t> host = drtest::read_file(sample("login.host"));
    std::fill(host.begin() + 14, host.begin() + 46, 'a');  // account without a NUL
    drtest::write_bytes(dir + "/nonul.host", host);
    for (const bool xml : {false, true}) {
        std::vector<std::string> args = {"print", lib_path_, "Message", dir + "/nonul.host"};
        if (xml) args.push_back("--xml");
        const drtest::Run r = drtool(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "drtool: rendering Message failed: a string has no NUL within its capacity, or its network "
                         "length is wrong (host offset 14)\n");
        EXPECT_NE(r.out.find("10001"), std::string::npos);  // what came before stays
    }
}

TEST_F(DrtoolOnSample, CannotWriteTheOutputFile) {
    const drtest::Run r = drtool({"encode", lib_path_, "Message", sample("login.host"), "-o", "/nonexistent/x.net"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "drtool: cannot create /nonexistent/x.net: No such file or directory\n");
}

}  // namespace
