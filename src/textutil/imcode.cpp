#include "textutil/imcode.h"

#include "textutil/imcode_readings_table.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace textutil {

namespace {

// A short fixed-size text: a length byte followed by the bytes, the unused ones zero.
template <std::size_t Capacity>
struct ShortText {
    std::uint8_t length = 0;
    char bytes[Capacity] = {};
};

using Syllable = ShortText<6>;
using NumberText = ShortText<2>;
using GreekText = ShortText<2>;

static_assert(sizeof(Syllable) == 7);

template <std::size_t Capacity>
constexpr ShortText<Capacity> shortText(std::string_view text)
{
    ShortText<Capacity> result;
    result.length = static_cast<std::uint8_t>(text.size());
    for (std::size_t i = 0; i < text.size() && i < Capacity; ++i)
        result.bytes[i] = text[i];
    return result;
}

// The toneless Mandarin syllables, numbered from 1 in this order ("-" is the empty entry 394; "v" stands
// for u-umlaut). Gei and fo are missing, so characters read that way have no reading.
constexpr std::string_view kSyllableList =
    "a ai an ang ao ba bai ban bang bao bei ben beng bi bian biao bie bin bing bo "                   // 1-20
    "bu ca cai can cang cao ce ceng cha chai chan chang chao che chen cheng chi chong chou chu "      // 21-40
    "chuai chuan chuang chui chun chuo ci cong cou cu cuan cui cun cuo da dai dan dang dao de "       // 41-60
    "deng di dian diao die ding diu dong dou du duan dui dun duo e en er fa fan fang "                // 61-80
    "fei fen feng fu fou ga gai gan gang gao ge ji gen geng gong gou gu gua guai guan "               // 81-100
    "guang gui gun guo ha hai han hang hao he hei hen heng hong hou hu hua huai huan huang "          // 101-120
    "hui hun huo jia jian jiang qiao jiao jie jin jing jiong jiu ju juan jue jun ka kai kan "         // 121-140
    "kang kao ke ken keng kong kou ku kua kuai kuan kuang kui kun kuo la lai lan lang lao "           // 141-160
    "le lei leng li lia lian liang liao lie lin ling liu long lou lu luan lue lun luo ma "            // 161-180
    "mai man mang mao me mei men meng mi mian miao mie min ming miu mo mou mu na nai "                // 181-200
    "nan nang nao ne nei nen neng ni nian niang niao nie nin ning niu nong nu nuan nue yao "          // 201-220
    "nuo o ou pa pai pan pang pao pei pen peng pi pian piao pie pin ping po pou pu "                  // 221-240
    "qi qia qian qiang qie qin qing qiong qiu qu quan que qun ran rang rao re ren reng ri "           // 241-260
    "rong rou ru ruan rui run ruo sa sai san sang sao se sen seng sha shai shan shang shao "          // 261-280
    "she shen sheng shi shou shu shua shuai shuan shuang shui shun shuo si song sou su suan sui sun " // 281-300
    "suo ta tai tan tang tao te teng ti tian tiao tie ting tong tou tu tuan tui tun tuo "             // 301-320
    "wa wai wan wang wei wen weng wo wu xi xia xian xiang xiao xie xin xing xiong xiu xu "            // 321-340
    "xuan xue xun ya yan yang ye yi yin ying yo yong you yu yuan yue yun za zai zan "                 // 341-360
    "zang zao ze zei zen zeng zha zhai zhan zhang zhao zhe zhen zheng zhi zhong zhou zhu zhua zhuai " // 361-380
    "zhuan zhuang zhui zhun zhuo zi zong zou zu zuan zui zun zuo - ei m n dia cen nou "               // 381-400
    "jv qv xv lv nv";                                                                                 // 401-405

constexpr int kSyllableCount = 405;

// Entry 0 is the empty "no reading"; entries 1-405 follow the list.
constexpr std::array<Syllable, kSyllableCount + 1> kSyllables = [] {
    std::array<Syllable, kSyllableCount + 1> table{};
    std::size_t number = 1;
    std::size_t start = 0;
    while (start < kSyllableList.size()) {
        std::size_t end = kSyllableList.find(' ', start);
        if (end == std::string_view::npos)
            end = kSyllableList.size();
        const std::string_view word = kSyllableList.substr(start, end - start);
        if (word.size() > 6 || number > kSyllableCount)
            throw "syllable list malformed"; // not a constant expression: stops the build
        table[number++] = shortText<6>(word == "-" ? std::string_view() : word);
        start = end + 1;
    }
    if (number != kSyllableCount + 1)
        throw "syllable list incomplete";
    return table;
}();

static_assert(kSyllables[394].length == 0 && kSyllables[395].length == 2);
static_assert(kSyllables[376].length == 5 && kSyllables[376].bytes[0] == 'z');

// Row 0xA2 by trail byte 0xA1-0xFE: the numbered and enumerated signs as digit texts; gaps are empty.
constexpr int kNumberFirstTrail = 0xA1;

constexpr std::array<NumberText, 94> kNumberTexts = [] {
    std::array<NumberText, 94> table{};
    const auto run = [&table](int firstTrail, int count) {
        constexpr std::string_view digits[] = {"1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",  "10",
                                               "11", "12", "13", "14", "15", "16", "17", "18", "19", "20"};
        for (int i = 0; i < count; ++i)
            table[firstTrail - kNumberFirstTrail + i] = shortText<2>(digits[i]);
    };
    run(0xA1, 10); // small roman numerals one to ten
    run(0xB1, 20); // numbers with full stop 1 to 20
    run(0xC5, 20); // parenthesised numbers 1 to 20
    run(0xD9, 10); // circled numbers 1 to 10
    run(0xE5, 10); // parenthesised ideographic numbers 1 to 10
    run(0xF1, 12); // capital roman numerals 1 to 12
    return table;
}();

// Row 0xA6: the Greek alphabet from alpha to omega, capitals at 0xA1-0xB8 and small letters at 0xC1-0xD8.
constexpr GreekText kGreekTexts[24] = {
    shortText<2>("a"),  shortText<2>("b"),  shortText<2>("g"),  shortText<2>("d"), shortText<2>("e"),
    shortText<2>("z"),  shortText<2>("e"),  shortText<2>("th"), shortText<2>("i"), shortText<2>("k"),
    shortText<2>("l"),  shortText<2>("m"),  shortText<2>("n"),  shortText<2>("x"), shortText<2>("o"),
    shortText<2>("p"),  shortText<2>("r"),  shortText<2>("s"),  shortText<2>("t"), shortText<2>("u"),
    shortText<2>("ph"), shortText<2>("kh"), shortText<2>("ps"), shortText<2>("o"),
};

constexpr bool isAsciiLetterOrDigit(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

constexpr char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr bool isLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

constexpr bool isDigitByte(unsigned char c) { return c >= 0x30 && c <= 0x39; }

template <std::size_t Capacity>
void appendUpper(QByteArray& result, const ShortText<Capacity>& text, std::size_t count)
{
    for (std::size_t i = 0; i < count && i < text.length; ++i)
        result.append(asciiUpper(text.bytes[i]));
}

} // namespace

QByteArray MnemonicCode(const QByteArray& text, int options, int maxLength)
{
    if (options < 0 || maxLength <= 0)
        return {};

    const bool wholeReading = options & kMnemonicWholeReading;
    const bool markUnknown = options & kMnemonicMarkUnknown;
    const bool keepSigns = options & kMnemonicKeepSigns;

    const auto* bytes = reinterpret_cast<const unsigned char*>(text.constData());
    const qsizetype size = text.size();

    QByteArray result;
    result.reserve(std::min<qsizetype>(maxLength, size * 3));
    const auto appendUnknown = [&result, markUnknown] {
        if (markUnknown)
            result.append('?');
    };

    qsizetype p = 0;
    while (p < size && result.size() < maxLength) {
        const unsigned char c = bytes[p];
        const unsigned char d = p + 1 < size ? bytes[p + 1] : 0;

        // A character outside GBK comes as its GB18030 four-byte sequence: one character without a
        // reading. Cut off by the end of the text it is a cut character like a lone lead byte; its
        // digit bytes are never taken for ASCII digits.
        if (isLeadByte(c) && isDigitByte(d)) {
            const qsizetype rest = size - p;
            if (rest >= 4 && isLeadByte(bytes[p + 2]) && isDigitByte(bytes[p + 3])) {
                appendUnknown();
                p += 4;
                continue;
            }
            if (rest < 4 && (rest == 2 || isLeadByte(bytes[p + 2]))) {
                if (keepSigns)
                    result.append(static_cast<char>(c));
                break;
            }
            // Anything else is malformed and read byte by byte below.
        }

        if (c < 0x81 || d < 0x40) {
            if (isAsciiLetterOrDigit(c))
                result.append(asciiUpper(static_cast<char>(c)));
            else if (keepSigns)
                result.append(static_cast<char>(c));
            p += 1;
            continue;
        }

        p += 2;
        if (c == 0xA2) {
            if (d >= kNumberFirstTrail && d <= 0xFE)
                appendUpper(result, kNumberTexts[d - kNumberFirstTrail], 2);
            else
                appendUnknown();
        } else if (c == 0xA3) {
            // Full-width ASCII sits at trail bytes 0xA1-0xFE; the rest of the row is user-defined and
            // has no reading (mapping it would put stray lead and control bytes into the code).
            if (d >= 0xA1 && d <= 0xFE) {
                const auto ascii = static_cast<unsigned char>(d - 0x80);
                if (keepSigns || isAsciiLetterOrDigit(ascii))
                    result.append(static_cast<char>(ascii));
            } else {
                appendUnknown();
            }
        } else if (c == 0xA6 && d >= 0xA1 && d <= 0xB8) {
            appendUpper(result, kGreekTexts[d - 0xA1], 2);
        } else if (c == 0xA6 && d >= 0xC1 && d <= 0xD8) {
            appendUpper(result, kGreekTexts[d - 0xC1], 2);
        } else {
            const std::uint16_t number =
                (c == 0xFF || d == 0xFF)
                    ? 0
                    : kImReadings[(c - kImReadingFirstLead) * kImReadingColumns + (d - kImReadingFirstTrail)];
            if (number == 0 || number > kSyllableCount)
                appendUnknown();
            else
                appendUpper(result, kSyllables[number], wholeReading ? 6 : 1);
        }
    }

    if (result.size() > maxLength)
        result.truncate(maxLength);
    return result;
}

} // namespace textutil
