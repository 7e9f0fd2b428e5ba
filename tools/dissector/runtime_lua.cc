// runtime_lua.cc: the Lua half of every generated dissector: the decoder's walk over a record
// in a Wireshark buffer, its fields, preferences and registration. The generated part before
// it defines NAME, LIBNAME, TYPES (the record types, TOP the one on the wire), STEP_MEMBERS,
// TCP_PORTS and UDP_PORTS. Lua 5.1 to 5.4: no integer division and no bit operators.
#include "tools/dissector/dissector.h"

namespace drdissector {

const char *const kRuntimeLua = R"LUA(
local proto = Proto(NAME, LIBNAME .. " records (" .. NAME .. ")")
proto.prefs.version = Pref.uint("Version", DEFAULT_VERSION, "The version the peers speak; 0 for the newest")
proto.prefs.le8 = Pref.bool("8-byte values little-endian", true,
  "Byte order of 8-byte integers and doubles, which travel as they lie in the sender's memory")

local E = {
  cut = ProtoExpert.new(NAME .. ".cut", "Record cut short", expert.group.MALFORMED, expert.severity.ERROR),
  bad = ProtoExpert.new(NAME .. ".bad", "Not a record", expert.group.MALFORMED, expert.severity.ERROR),
  len = ProtoExpert.new(NAME .. ".length_disagrees", "Length field disagrees with the members",
                        expert.group.PROTOCOL, expert.severity.WARN),
  select = ProtoExpert.new(NAME .. ".no_member", "Selector chooses no member", expert.group.PROTOCOL,
                           expert.severity.WARN),
}
proto.experts = { E.cut, E.bad, E.len, E.select }

local F_LEN = ProtoField.uint32(NAME .. ".length", "Element length")
local fields = { F_LEN }
for _, ty in ipairs(TYPES) do
  for _, m in ipairs(ty.members) do
    local abbrev = NAME .. "." .. ty.name .. "." .. m.n
    m.f = ProtoField[m.kind](abbrev, m.n)
    fields[#fields + 1] = m.f
    m.child = m.meta and TYPES[m.meta] or nil
  end
end
proto.fields = fields

local KNOWN = { [1] = true, [2] = true, [4] = true, [8] = true }
local STRING = 18
local MAX_DEPTH = 32

local function width(size) if size == 2 or size == 4 then return size end return 1 end

-- A range of the buffer, clamped to it; nil where no byte of it is there.
local function rng(st, at, n)
  local total = st.tvb:len()
  if at >= total then return nil end
  if n > total - at then n = total - at end
  return st.tvb(at, n)
end

local function add(tree, field, range, value)
  if range == nil then return tree:add(field) end
  if value == nil then return tree:add(field, range) end
  return tree:add(field, range, value)
end

local function fail(st, kind, msg, item, need)
  st.kind, st.msg, st.item, st.need = kind, msg, item, need
  return false
end

-- Whether n bytes at `at` are among the bytes given; keeps the furthest byte read.
local function fits(st, at, n)
  if at < st.start or n < 0 or at + n > st.lim then return false end
  if at + n > st.far then st.far = at + n end
  return true
end

-- A count or selector from the host record by the width rule: 2 unsigned 16-bit, 4 signed
-- 32-bit, else one byte; host byte order is little-endian. nil outside the host record.
local function host_read(st, at, size)
  local n = (size == 2 or size == 4) and size or 1
  if at < 0 or at + n > st.hlen then return nil end
  local h = st.host
  local v = 0
  for i = n - 1, 0, -1 do v = v * 256 + (h[at + i] or 0) end
  if n == 4 and v >= 2147483648 then v = v - 4294967296 end
  return v
end

-- Keeps the host bytes of `count` values of `unit` bytes read at net offset o: 2- and 4-byte
-- values turn little-endian, the others stay as they lie.
local function keep(st, at, o, unit, count)
  local h, tvb = st.host, st.tvb
  for k = 0, count - 1 do
    local src = o + k * unit
    for i = 0, unit - 1 do
      local j = (unit == 2 or unit == 4) and (unit - 1 - i) or i
      h[at + k * unit + i] = tvb(src + j, 1):uint()
    end
  end
end

local function resolve(u, s, v)
  local ms = u.members
  local n = #ms
  if n == 0 then return nil end
  local found
  local d = s - ms[1].id
  if d >= 0 and d < n and ms[d + 1].id == s then
    found = d + 1
  elseif n < 16 then
    for k = 1, n do if ms[k].id == s then found = k; break end end
  else
    local lo, hi = 0, n - 1
    while lo <= hi do
      local mid = math.floor((lo + hi) / 2)
      local id = ms[mid + 1].id
      if s == id then found = mid + 1; break elseif s < id then hi = mid - 1 else lo = mid + 1 end
    end
  end
  if not found and ms[1].id == -1 then found = 1 end
  if found and ms[found].ver > v then return nil end
  return found
end

local function may_choose_nothing(u, v)
  if #u.members == 0 or u.members[1].id ~= -1 then return true end
  for _, m in ipairs(u.members) do if m.ver > v then return true end end
  return false
end

local function value_of(st, m, o)
  local r = st.tvb(o, m.unit)
  local k = m.kind
  if m.unit == 8 then
    if k == "double" then if st.le8 then return r:le_float() end return r:float() end
    if k == "int64" then if st.le8 then return r:le_int64() end return r:int64() end
    if st.le8 then return r:le_uint64() end return r:uint64()
  end
  if k == "float" then return r:float() end
  if k == "int8" or k == "int16" or k == "int32" then return r:int() end
  return r:uint()
end

local walk_element

local function take_member(st, ty, m, base, eend, depth, tree, netstart)
  st.steps = st.steps - 1
  if st.steps < 0 then return fail(st, "bad", "the walk went past its step budget", tree) end
  if m.ver > st.v then return true end
  local at = base + m.off
  if at < 0 or at > st.hlen then return fail(st, "bad", m.n .. " lies outside the host record", tree) end
  local count = m.count
  if m.rsize > 0 then
    count = host_read(st, base + m.roff, m.rsize)
    if count == nil then return fail(st, "bad", "the count of " .. m.n .. " lies outside the host record", tree) end
    if count < 0 or (m.count ~= 0 and count > m.count) then
      return fail(st, "bad", string.format("%s.%s: count %d is over its bound %d", ty.name, m.n, count, m.count), tree)
    end
  end
  if m.meta ~= nil then
    if depth == MAX_DEPTH then return fail(st, "bad", m.n .. " is nested deeper than 32 levels", tree) end
    local child = m.child
    if child == nil then return fail(st, "bad", m.n .. " has no record type", tree) end
    if count <= 0 then return true end
    local span = (depth == 1 and count - 1 or count) * child.datasize
    if child.datasize <= 0 then
      if count > 1 then return fail(st, "bad", m.n .. ": elements of no host size", tree) end
    elseif not (at >= 0 and span >= 0 and at <= eend and span <= eend - at) then
      return fail(st, "bad", m.n .. " lies outside the host record", tree)
    end
    local start = 1
    if m.union then
      local sel = host_read(st, base + m.soff, m.ssize)
      if sel == nil then return fail(st, "bad", "the selector of " .. m.n .. " lies outside the host record", tree) end
      start = resolve(child, sel, st.v)
      if start == nil then
        if tree then
          tree:add_proto_expert_info(E.select, string.format("%s.%s: selector %d chooses no member of %s", ty.name,
                                     m.n, sel, child.name))
        end
        return "end"
      end
      if st.choice == nil then st.choice = child.members[start].n end
    end
    local lenfield, ns = 0, netstart
    for k = 1, count do
      local ebase = at + (k - 1) * child.datasize
      local first = st.cur
      if k == 1 or m.lsize ~= 0 then
        if m.lpos < 0 then
          lenfield = st.cur; st.cur = st.cur - m.lpos; ns = st.cur
        else
          ns = st.cur; lenfield = netstart + m.lpos
        end
      end
      local it, sub = nil, nil
      if tree then
        it = add(tree, m.f, rng(st, first, 0))
        sub = it
      end
      local eend2 = ebase + child.datasize
      if eend2 > st.hlen then eend2 = st.hlen end
      if not walk_element(st, child, ebase, eend2, depth + 1, start, sub, ns) then return false end
      if m.lsize ~= 0 then
        local w = width(m.lsize)
        if not fits(st, lenfield, w) then
          if lenfield >= st.start and lenfield + w > st.lim then
            return fail(st, "cut", "the length field of " .. m.n .. " is cut off", it, lenfield + w)
          end
          return fail(st, "bad", "the length field of " .. m.n .. " lies outside the record", it)
        end
        local len = st.tvb(lenfield, w):uint()
        local took = st.cur - ns
        if sub then
          local li = sub:add(F_LEN, st.tvb(lenfield, w), len)
          if len ~= took then
            li:add_proto_expert_info(E.len, string.format("the length field says %d bytes, the members took %d",
                                     len, took))
          end
        end
        if st.cur > st.far then st.far = st.cur end
        st.cur = ns + len
        if not fits(st, ns, len) then
          return fail(st, "cut", string.format("%s: the length field says %d bytes, past the bytes there", m.n, len),
                      it, ns + len)
        end
      end
      if it then
        local total = st.tvb:len()
        local e = st.cur
        if e > total then e = total end
        if first < total and e > first then it:set_len(e - first) end
      end
    end
    return true
  end
  if m.code == STRING then
    local cap = count
    if count == 0 then cap = st.hlen - at end
    if not fits(st, st.cur, 5) then return fail(st, "cut", m.n .. " is cut off", tree, st.cur + 5) end
    local len = st.tvb(st.cur, 4):int()
    if len < 1 or len > cap then
      return fail(st, "bad", string.format("%s.%s: string length %d is outside 1..%d", ty.name, m.n, len, cap), tree)
    end
    if at + len > st.hlen then return fail(st, "bad", m.n .. " does not fit the host record", tree) end
    if not fits(st, st.cur, 4 + len) then return fail(st, "cut", m.n .. " is cut off", tree, st.cur + 4 + len) end
    if st.tvb(st.cur + 3 + len, 1):uint() ~= 0 then
      return fail(st, "bad", string.format("%s.%s: the string does not end with its NUL", ty.name, m.n), tree)
    end
    keep(st, at, st.cur + 4, 1, len)
    if tree then  -- the characters before the NUL, as UTF-8
      local chars = string.find(st.tvb:raw(st.cur + 4, len), "\0", 1, true) - 1
      tree:add_packet_field(m.f, st.tvb(st.cur + 4, chars), ENC_UTF_8)
    end
    st.cur = st.cur + 4 + len
    return true
  end
  if m.unit < 0 or (m.unit == 0 and count > 1) then return fail(st, "bad", m.n .. " has no element size", tree) end
  local n = m.unit * count
  if not (at >= 0 and n >= 0 and at <= eend and n <= eend - at) then
    return fail(st, "bad", m.n .. " lies outside the host record", tree)
  end
  if not KNOWN[m.unit] then return fail(st, "bad", m.n .. " has an element size the codec does not know", tree) end
  if not fits(st, st.cur, n) then return fail(st, "cut", m.n .. " is cut off", tree, st.cur + n) end
  if tree then
    if m.kind == "bytes" then
      local r = rng(st, st.cur, n)
      if r then tree:add(m.f, r) end
    else
      for k = 0, count - 1 do
        local o = st.cur + k * m.unit
        tree:add(m.f, st.tvb(o, m.unit), value_of(st, m, o))
      end
    end
  end
  keep(st, at, st.cur, m.unit, count)
  st.cur = st.cur + n
  return true
end

walk_element = function(st, ty, base, eend, depth, first, tree, netstart)
  local ms = ty.members
  if first > #ms then
    st.steps = st.steps - 1
    return true
  end
  if ty.struct then
    for i = first, #ms do
      local r = take_member(st, ty, ms[i], base, eend, depth, tree, netstart)
      if not r then return false end
      if r == "end" then break end
    end
    return true
  end
  return take_member(st, ty, ms[first], base, eend, depth, tree, netstart) ~= false
end

local function version()
  local v = proto.prefs.version
  if v == 0 then return 2147483647 end
  return v
end

-- The record as long as its fixed head's length field says, when the type is framed so.
local function framing(v)
  if not TOP.struct then return nil end
  local last, head = nil, 0
  for _, m in ipairs(TOP.members) do
    if m.ver <= v then
      if last then return nil end
      if m.meta ~= nil then
        last = m
      elseif m.code == STRING or m.rsize > 0 or not KNOWN[m.unit] or m.count < 0 then
        return nil
      else
        head = head + m.unit * m.count
      end
    end
  end
  if last == nil or last.lpos < 0 or last.lsize == 0 or last.count ~= 1 or last.rsize > 0 or last.child == nil then
    return nil
  end
  if last.union and may_choose_nothing(last.child, v) then return nil end
  local w = width(last.lsize)
  if last.lpos + w > head then return nil end
  return head, last.lpos, w
end

-- Walks the record at `off` over the bytes up to `lim`: "record" and its length, "more" and
-- the bytes it needs (from `off`), or "bad". The state tells why and where.
local function run(tvb, off, lim, v, tree)
  local st = { tvb = tvb, start = off, lim = lim, cur = off, far = off, host = {}, hlen = TOP.datasize, v = v,
               le8 = proto.prefs.le8, steps = 16 * (TOP.datasize + (lim - off) + 1) + 64 * STEP_MEMBERS }
  if TOP.ver > v then
    fail(st, "bad", string.format("%s starts at version %d, after version %d", TOP.name, TOP.ver, v), tree)
    return "bad", 0, st
  end
  if not walk_element(st, TOP, 0, st.hlen, 1, 1, tree, off) then
    if st.kind == "cut" then return "more", st.need - off, st end
    return "bad", 0, st
  end
  if st.cur > lim then
    fail(st, "cut", "an element's length field is cut off", tree, st.cur)
    return "more", st.cur - off, st
  end
  if st.far > st.cur then
    fail(st, "bad", "a length field ends the record before bytes it read", tree)
    return "bad", 0, st
  end
  return "record", st.cur - off, st
end

local function measure(tvb, off, v)
  local head, at, w = framing(v)
  local avail = tvb:len() - off
  if head then
    if avail < head then return "more", head end
    local n = head + tvb(off + at, w):uint()
    if n > avail then return "more", n end
    return "record", n
  end
  local status, n = run(tvb, off, tvb:len(), v, nil)
  return status, n
end

function proto.dissector(tvb, pinfo, tree)
  local v = version()
  local total = tvb:len()
  local off = 0
  local infos = {}
  pinfo.cols.protocol = string.upper(NAME)
  while off < total do
    local status, n = measure(tvb, off, v)
    if status == "more" and pinfo.can_desegment > 0 then
      pinfo.desegment_offset = off
      pinfo.desegment_len = n - (total - off)
      off = total  -- the bytes are taken: TCP keeps them for the next segment
      break
    end
    local lim = total
    if status == "record" then lim = off + n end
    local item = tree:add(proto, tvb(off, lim - off))
    item:append_text(", " .. TOP.name)
    local got, len, st = run(tvb, off, lim, v, item)
    if status == "record" and got == "record" and len == n and n > 0 then
      infos[#infos + 1] = st.choice and (TOP.name .. " (" .. st.choice .. ")") or TOP.name
      off = off + n
    else
      local where = st.item or item
      if status == "more" then
        where:add_proto_expert_info(E.cut, string.format("record cut short: %d bytes of at least %d (%s)",
                                    total - off, n, st.msg or "cut"))
        infos[#infos + 1] = TOP.name .. " [cut]"
      elseif n == 0 and status == "record" then
        where:add_proto_expert_info(E.bad, "a record of no bytes")
        infos[#infos + 1] = TOP.name .. " [bad]"
      else
        where:add_proto_expert_info(E.bad, st.msg or "not a record")
        infos[#infos + 1] = TOP.name .. " [bad]"
      end
      if status == "record" and n > 0 then off = off + n else off = total end
    end
  end
  if #infos > 0 then pinfo.cols.info = table.concat(infos, ", ") end
  return off
end

local tcp = DissectorTable.get("tcp.port")
local udp = DissectorTable.get("udp.port")
for _, p in ipairs(TCP_PORTS) do tcp:add(p, proto) end
for _, p in ipairs(UDP_PORTS) do udp:add(p, proto) end
tcp:add_for_decode_as(proto)
udp:add_for_decode_as(proto)
)LUA";

}  // namespace drdissector
