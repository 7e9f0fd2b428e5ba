// proto_peer.cc: the benchmark records through Protocol Buffers: a message filled once and
// serialised again each time; parsed into one reused message.
#include "bench/codecs.h"
#include "peers.pb.h"

namespace bench {
namespace {

template <class Msg>
class ProtoCodec {
public:
    explicit ProtoCodec(Msg msg) : in_(std::move(msg)), net_(kNetCapacity, kNetOffset) {}

    long encode() {
        if (!in_.SerializeToArray(net_.data(), static_cast<int>(net_.size()))) return -1;
        return len_ = in_.GetCachedSize();
    }
    long decode() { return out_.ParseFromArray(net_.data(), static_cast<int>(len_)) ? len_ : -1; }
    std::string_view wire() const { return {net_.data(), static_cast<size_t>(len_)}; }
    bool decoded_equal() const { return out_.SerializeAsString() == in_.SerializeAsString(); }

private:
    Msg in_, out_;
    PageBuffer net_;
    long len_ = 0;
};

benchpb::Small small_message() {
    const Small s = sample_small();
    benchpb::Small m;
    m.set_ver(s.ver);
    m.set_cmd(s.cmd);
    m.set_seq(s.seq);
    m.set_uin(s.uin);
    m.set_flags(s.flags);
    m.set_lvl(s.lvl);
    m.set_hp(s.hp);
    m.set_time(s.time);
    m.set_ratio(s.ratio);
    m.set_total(s.total);
    m.set_big(s.big);
    m.set_name(s.name);
    for (int k = 0; k < s.n; ++k) m.add_scores(s.scores[k]);
    m.mutable_pos()->set_x(s.pos.x);
    m.mutable_pos()->set_y(s.pos.y);
    if (s.cmd == 2) {
        for (int k = 0; k < 3; ++k) m.mutable_move()->add_v(s.body.move[k]);
    } else {
        m.set_raw(s.body.raw, sizeof s.body.raw);
    }
    m.set_crc(s.crc);
    m.set_tail(s.tail);
    return m;
}

benchpb::Medium medium_message() {
    const Medium s = sample_medium();
    benchpb::Medium m;
    m.set_ver(s.ver);
    m.set_cmd(s.cmd);
    m.set_seq(s.seq);
    m.set_uin(s.uin);
    m.set_time(s.time);
    m.set_zone(s.zone);
    m.set_flags(s.flags);
    for (int k = 0; k < s.n; ++k) {
        const Item &it = s.items[k];
        benchpb::Item *p = m.add_items();
        p->set_id(it.id);
        p->set_owner(it.owner);
        p->set_kind(it.kind);
        p->set_slot(it.slot);
        p->set_qty(it.qty);
        p->set_price(it.price);
        p->set_weight(it.weight);
        p->set_stamp(it.stamp);
        p->set_label(it.label);
    }
    return m;
}

template <class Msg, class Bulk>
Msg bulk_message(const Bulk &b) {
    Msg m;
    for (size_t k = 0; k < std::size(b.values); ++k) m.add_values(b.values[k]);
    return m;
}

}  // namespace

std::unique_ptr<Codec> make_protobuf(Rec rec) {
    switch (rec) {
    case Rec::kSmall: return std::make_unique<CodecOf<ProtoCodec<benchpb::Small>>>(small_message());
    case Rec::kMedium: return std::make_unique<CodecOf<ProtoCodec<benchpb::Medium>>>(medium_message());
    case Rec::kBulk32:
        return std::make_unique<CodecOf<ProtoCodec<benchpb::Bulk32>>>(
            bulk_message<benchpb::Bulk32>(sample_bulk32()));
    case Rec::kBulk16:
        return std::make_unique<CodecOf<ProtoCodec<benchpb::Bulk16>>>(
            bulk_message<benchpb::Bulk16>(sample_bulk16()));
    }
    return nullptr;
}

}  // namespace bench
