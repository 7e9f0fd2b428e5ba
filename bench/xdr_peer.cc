// xdr_peer.cc: the benchmark records through XDR, with the routines rpcgen emitted for
// peers.x over a memory stream. Strings and arrays of the decoded form point at storage
// of their own, so decoding allocates nothing.
#include <cstring>

#include "bench/codecs.h"
#include "peers_xdr.h"

namespace bench {
namespace {

template <class T>
using XdrProc = bool_t (*)(XDR *, T *);

// Encodes `in` with `proc`; returns the bytes written or -1.
template <class T>
long xdr_encode(XdrProc<T> proc, T *in, char *net, size_t cap) {
    XDR x;
    xdrmem_create(&x, net, static_cast<u_int>(cap), XDR_ENCODE);
    return proc(&x, in) ? static_cast<long>(xdr_getpos(&x)) : -1;
}

// Holds the record twice in its XDR form (`Forms` sets up both and their storage) and
// times the emitted routine `Proc` on them.
template <class Forms, class T, XdrProc<T> Proc>
class XdrCodec {
public:
    XdrCodec() : net_(kNetCapacity, kNetOffset), again_(kNetCapacity, kNetOffset) {}

    long encode() { return len_ = xdr_encode(Proc, &forms_.in, net_.data(), net_.size()); }
    long decode() {
        XDR x;
        xdrmem_create(&x, net_.data(), static_cast<u_int>(len_), XDR_DECODE);
        return Proc(&x, &forms_.out) ? static_cast<long>(xdr_getpos(&x)) : -1;
    }
    std::string_view wire() const { return {net_.data(), static_cast<size_t>(len_)}; }
    // The decoded form encodes to the same bytes.
    bool decoded_equal() const {
        auto *self = const_cast<XdrCodec *>(this);
        const long n = xdr_encode(Proc, &self->forms_.out, self->again_.data(), again_.size());
        return n == len_ && std::memcmp(again_.data(), net_.data(), static_cast<size_t>(n)) == 0;
    }

private:
    Forms forms_;
    PageBuffer net_, again_;
    long len_ = 0;
};

struct SmallForms {
    xsmall in{}, out{};
    char name[2][25]{};
    int scores[2][8]{};
    SmallForms() {
        const Small s = sample_small();
        xsmall *f[2] = {&in, &out};
        for (int k = 0; k < 2; ++k) {
            f[k]->name = name[k];
            f[k]->scores.scores_val = scores[k];
        }
        in.ver = s.ver;
        in.seq = s.seq;
        in.uin = s.uin;
        in.flags = s.flags;
        in.lvl = s.lvl;
        in.hp = s.hp;
        in.time = s.time;
        in.ratio = s.ratio;
        in.total = s.total;
        in.big = s.big;
        std::strcpy(name[0], s.name);
        in.scores.scores_len = s.n;
        std::memcpy(scores[0], s.scores, sizeof s.scores);
        in.pos = xpos{s.pos.x, s.pos.y};
        in.body.cmd = s.cmd;
        if (s.cmd == 2)
            std::memcpy(in.body.xbody_u.move, s.body.move, sizeof s.body.move);
        else
            std::memcpy(in.body.xbody_u.raw, s.body.raw, sizeof s.body.raw);
        in.crc = s.crc;
        in.tail = s.tail;
    }
};

struct MediumForms {
    xmedium in{}, out{};
    char zone[2][17]{};
    xitem items[2][kItems]{};
    char labels[2][kItems][13]{};
    MediumForms() {
        const Medium s = sample_medium();
        xmedium *f[2] = {&in, &out};
        for (int k = 0; k < 2; ++k) {
            f[k]->zone = zone[k];
            f[k]->items.items_val = items[k];
            for (int i = 0; i < kItems; ++i) items[k][i].label = labels[k][i];
        }
        in.ver = s.ver;
        in.cmd = s.cmd;
        in.seq = s.seq;
        in.uin = s.uin;
        in.time = s.time;
        std::strcpy(zone[0], s.zone);
        in.flags = s.flags;
        in.items.items_len = s.n;
        for (int i = 0; i < s.n; ++i) {
            const Item &it = s.items[i];
            xitem &x = items[0][i];
            x.id = it.id;
            x.owner = it.owner;
            x.kind = it.kind;
            x.slot = it.slot;
            x.qty = it.qty;
            x.price = it.price;
            x.weight = it.weight;
            x.stamp = it.stamp;
            std::strcpy(x.label, it.label);
        }
    }
};

template <class X, class B>
struct BulkForms {
    X in{}, out{};
    explicit BulkForms(const B &b) {
        for (size_t k = 0; k < std::size(b.values); ++k) in.values[k] = b.values[k];
    }
};
struct Bulk32Forms : BulkForms<xbulk32, Bulk32> {
    Bulk32Forms() : BulkForms(sample_bulk32()) {}
};
struct Bulk16Forms : BulkForms<xbulk16, Bulk16> {
    Bulk16Forms() : BulkForms(sample_bulk16()) {}
};

}  // namespace

std::unique_ptr<Codec> make_xdr(Rec rec) {
    switch (rec) {
    case Rec::kSmall: return std::make_unique<CodecOf<XdrCodec<SmallForms, xsmall, xdr_xsmall>>>();
    case Rec::kMedium: return std::make_unique<CodecOf<XdrCodec<MediumForms, xmedium, xdr_xmedium>>>();
    case Rec::kBulk32: return std::make_unique<CodecOf<XdrCodec<Bulk32Forms, xbulk32, xdr_xbulk32>>>();
    case Rec::kBulk16: return std::make_unique<CodecOf<XdrCodec<Bulk16Forms, xbulk16, xdr_xbulk16>>>();
    }
    return nullptr;
}

}  // namespace bench
