#include "fragment/shared_string_walk.h"

#include <algorithm>

#include "common/little_endian.h"

namespace tabulon {
namespace {

constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kExtSst = 0x00FF;
// Option-byte bits that no string uses: anything else than 16-bit characters, phonetic data and runs.
constexpr uint8_t kInvalidOptions = 0xF2;
constexpr uint32_t kMaxStringBytes = 8224;
// Control characters other than tab and line ends a string may hold. Cell text almost never has any;
// record bytes read as characters have many.
constexpr uint32_t kMaxControlCharacters = 1;

}  // namespace

void SharedStringWalk::StartRecord(uint16_t type) {
    if (type == kSst) {
        state_ = State::Counts;
        countsHave_ = 0;
        recordStart_ = false;
        starts_.reset();
        stride_ = 8;
        stringsBegun_ = 0;
        positionsKnown_ = true;
        tableWhole_ = false;
    } else if (type == kContinue && state_ != State::Off && state_ != State::Index) {
        recordStart_ = true;
    } else if (type == kContinue && tableWhole_) {
        // The table stays whole: a CONTINUE after its last string carries bytes no string owns.
    } else if (type == kExtSst && state_ == State::Off && tableWhole_ && positionsKnown_) {
        state_ = State::Index;
        indexHave_ = 0;
        bucketRead_ = false;
        entries_ = 0;
        baseIndexed_ = baseFound_ = -1;
        tableWhole_ = false;
    } else {
        state_ = State::Off;
        tableWhole_ = false;
    }
}

void SharedStringWalk::KeepStart(int64_t position) {
    if (stringsBegun_++ % stride_ != 0) return;
    if (!starts_)
        starts_ = std::make_shared<std::vector<uint32_t>>();
    else if (starts_.use_count() > 1)
        starts_ = std::make_shared<std::vector<uint32_t>>(*starts_);
    if (starts_->size() == kMaxStarts) {
        // Every other start is dropped: the one at hand still falls on the doubled stride.
        for (size_t k = 0; 2 * k < starts_->size(); ++k) (*starts_)[k] = (*starts_)[2 * k];
        starts_->resize(kMaxStarts / 2);
        stride_ *= 2;
    }
    starts_->push_back(uint32_t(position));
}

// An index entry: the stream position where the first string of its bucket began. Writers that leave an
// entry zero, or that shift every position alike (a file cut short before its table), say nothing
// against the bytes fed: entries are compared by their distance from the first one that can be compared.
bool SharedStringWalk::CheckIndexEntry() {
    const uint32_t indexed = LoadU32(indexBytes_);
    const uint64_t string = uint64_t(entries_++) * bucket_;
    if (bucket_ == 0 || indexed == 0 || !starts_ || string % stride_ != 0 || string / stride_ >= starts_->size())
        return true;
    const int64_t found = (*starts_)[size_t(string / stride_)];
    if (baseIndexed_ < 0) {
        baseIndexed_ = indexed;
        baseFound_ = found;
        return true;
    }
    return int64_t(indexed) - baseIndexed_ == found - baseFound_;
}

void SharedStringWalk::MarkFeed() {
    markedText_ = lastText_;
    markedTextLength_ = lastTextLength_;
    firstTextLength_ = 0;
    markArmed_ = true;
    startedAfterMark_ = false;
}

int32_t SharedStringWalk::SimilarityToMarked() const {
    const size_t common = std::min(markedTextLength_, firstTextLength_);
    size_t k = 0;
    while (k < common && markedText_[k] == firstText_[k]) ++k;
    return int32_t(k);
}

void SharedStringWalk::CountControl(uint16_t character) {
    if (character < 0x20 && character != '\t' && character != '\n' && character != '\r') ++controlCharacters_;
}

bool SharedStringWalk::StartString() {
    textLength_ = 0;
    controlCharacters_ = 0;
    startedAfterMark_ = markArmed_;
    state_ = State::Header;
    headerHave_ = 0;
    headerNeed_ = 3;
    return true;
}

void SharedStringWalk::EndString() {
    ++stringsEnded_;
    lastText_ = text_;
    lastTextLength_ = textLength_;
    if (startedAfterMark_ && markArmed_) {
        firstText_ = text_;
        firstTextLength_ = textLength_;
        markArmed_ = false;
    }
    startedAfterMark_ = false;
    if (stringsLeft_ > 0) --stringsLeft_;
    if (stringsLeft_ != 0) {
        StartString();
        return;
    }
    state_ = State::Off;  // the table is complete; what follows is judged by its records
    tableWhole_ = true;
}

bool SharedStringWalk::Feed(std::span<const uint8_t> body, int64_t position) {
    if (position < 0) positionsKnown_ = false;
    size_t at = 0;
    while (at < body.size() && state_ != State::Off) {
        if (recordStart_) {
            recordStart_ = false;
            if (state_ == State::Characters) {
                // Characters cut by a record boundary go on after an option byte of their own.
                const uint8_t options = body[at++];
                if ((options & kInvalidOptions) != 0) return false;
                wide_ = (options & 1) != 0;
                halfCharacter_ = false;
                continue;
            }
        }
        switch (state_) {
            case State::Counts:
                counts_[countsHave_++] = body[at++];
                if (countsHave_ == 8) {
                    stringsLeft_ = LoadU32(counts_ + 4);
                    if (stringsLeft_ == 0)
                        state_ = State::Off;
                    else
                        StartString();
                }
                break;
            case State::Header: {
                if (headerHave_ == 0 && positionsKnown_) KeepStart(position + int64_t(at));
                header_[headerHave_++] = body[at++];
                if (headerHave_ == 3) {
                    const uint8_t options = header_[2];
                    if ((options & kInvalidOptions) != 0) return false;
                    headerNeed_ = uint8_t(3 + ((options & 8) != 0 ? 2 : 0) + ((options & 4) != 0 ? 4 : 0));
                }
                if (headerHave_ < headerNeed_) break;
                const uint8_t options = header_[2];
                const uint32_t runs = (options & 8) != 0 ? LoadU16(header_ + 3) : 0;
                const uint32_t phonetic = (options & 4) != 0 ? LoadU32(header_ + 3 + ((options & 8) != 0 ? 2 : 0)) : 0;
                charactersLeft_ = LoadU16(header_);
                wide_ = (options & 1) != 0;
                if (refuseLongStrings_ && charactersLeft_ * (wide_ ? 2u : 1u) > kMaxStringBytes) return false;
                halfCharacter_ = false;
                trailerLeft_ = uint64_t(runs) * 4 + phonetic;
                if (charactersLeft_ > 0)
                    state_ = State::Characters;
                else if (trailerLeft_ > 0)
                    state_ = State::Trailer;
                else
                    EndString();
                break;
            }
            case State::Characters: {
                const size_t available = body.size() - at;
                const size_t from = at;
                if (!wide_) {
                    const size_t take = std::min<size_t>(available, charactersLeft_);
                    for (size_t i = 0; i < take; ++i) CountControl(body[at + i]);
                    at += take;
                    charactersLeft_ -= uint32_t(take);
                } else {
                    // Whole 16-bit characters, and a first half left over at the end of the bytes.
                    size_t take = 0;
                    if (halfCharacter_) {
                        CountControl(uint16_t(lowHalf_ | body[at] << 8));
                        take = 1;
                        halfCharacter_ = false;
                        --charactersLeft_;
                    }
                    const size_t pairs = std::min<size_t>((available - take) / 2, charactersLeft_);
                    for (size_t i = 0; i < pairs; ++i) CountControl(LoadU16(body.data() + at + take + 2 * i));
                    take += pairs * 2;
                    charactersLeft_ -= uint32_t(pairs);
                    if (charactersLeft_ > 0 && take < available) {
                        lowHalf_ = body[at + take];
                        ++take;
                        halfCharacter_ = true;
                    }
                    at += take;
                }
                if (controlCharacters_ > kMaxControlCharacters) return false;
                const size_t keep = std::min(at - from, kTextBytes - textLength_);
                std::copy_n(body.begin() + long(from), keep, text_.begin() + textLength_);
                textLength_ = uint8_t(textLength_ + keep);
                if (charactersLeft_ == 0) {
                    if (trailerLeft_ > 0)
                        state_ = State::Trailer;
                    else
                        EndString();
                }
                break;
            }
            case State::Trailer: {
                const uint64_t take = std::min<uint64_t>(body.size() - at, trailerLeft_);
                at += size_t(take);
                trailerLeft_ -= take;
                if (trailerLeft_ == 0) EndString();
                break;
            }
            case State::Index:
                indexBytes_[indexHave_++] = body[at++];
                if (!bucketRead_) {
                    if (indexHave_ == 2) {
                        bucket_ = LoadU16(indexBytes_);
                        bucketRead_ = true;
                        indexHave_ = 0;
                    }
                } else if (indexHave_ == 8) {
                    indexHave_ = 0;
                    if (!CheckIndexEntry()) return false;
                }
                break;
            case State::Off:
                break;
        }
    }
    // Writers end the table's records with its last string; bytes after it are another table's.
    return !(tableWhole_ && at < body.size());
}

}  // namespace tabulon
