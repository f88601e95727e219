// --gis: the parcels of every map file as features of one GIS output, written in input order as the
// batch hands the files over, into a temporary file that replaces the output only when complete.
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/text_format.hpp"
#include "driver/batch.hpp"
#include "driver/console.hpp"
#include "driver/display_name.hpp"
#include "driver/options.hpp"
#include "driver/output_formats.hpp"
#include "driver/output_session.hpp"
#include "gis/feature_writer.hpp"
#include "gis/parcel_features.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The output while the files come in: it begins with the first file that has features, whose
// coordinates every later one must share.
struct GisOutput {
    std::unique_ptr<FeatureWriter> writer;
    bool began = false;
    bool failed = false;
    GisCoordinates coordinates = GisCoordinates::geographic;
    std::vector<std::string> names[2];  // the files written, by GisCoordinates

    bool begin(GisCoordinates kind) {
        GisSchema schema;
        schema.fields = kParcelFields;
        schema.coordinates = kind;
        coordinates = kind;
        began = true;
        failed = !writer->begin(schema);
        return !failed;
    }
    bool mixed() const { return !names[0].empty() && !names[1].empty(); }
};

struct GisTally {
    std::size_t files = 0;
    std::size_t parcels = 0;
    std::size_t without_shape = 0;
    std::vector<std::string> shapeless;      // the first lots without shape, "LOT (FILE)", in UTF-8
    std::size_t left_out = 0;                // lots of 地区外 or 別図
    std::vector<std::string> left_out_lots;  // the first of them, "LOT (FILE)", in UTF-8
    std::size_t failed = 0;
    std::vector<std::string> skipped;  // 任意座標系 maps left out
};

// What a file reports when its features cannot be written; `usable` is set when they can. Messages
// are built in UTF-8 and go out in the code page of messages (message_text).
std::string file_problem(const MapFile& file, FileOutcome& outcome, GisTally& tally, bool& usable) {
    usable = false;
    const std::string prefix = display_name(file.name) + ": ";
    if (outcome.read_failed) {
        ++tally.failed;
        return prefixed(prefix, outcome.read_error);
    }
    // Polygon assembly's messages are about the drawing's outlines, which the features do not use.
    for (const DrawOutcome& d : outcome.drawings) {
        if (d.out_of_memory) {
            ++tally.failed;
            return prefix + "** Error: out of memory\n";
        }
        if (d.status == DrawStatus::failed) {
            ++tally.failed;
            return prefixed(prefix, d.error);
        }
    }
    if (outcome.gis_status == GisFileStatus::arbitrary) {
        tally.skipped.push_back(display_name(file.name));
        return prefix + message_text("Skipped: 任意座標系 (--include-arbitrary writes it in local metres)\n");
    }
    if (outcome.gis_status == GisFileStatus::unknown_coordinates) {
        ++tally.failed;
        return prefix + message_text(format_text("** Error: Unknown coordinate system \"%s\"\n",
                                                 display_utf8(outcome.coord_system).c_str()));
    }
    usable = true;
    return {};
}

// The file's features are in the output.
void count_written(const MapFile& file, const FileOutcome& outcome, GisTally& tally) {
    ++tally.files;
    tally.parcels += outcome.features.size();
    tally.without_shape += outcome.features.without_shape;
    for (const std::string& lot : outcome.features.shapeless_lots) {
        if (tally.shapeless.size() == FeatureBatch::kNamedShapeless) break;
        tally.shapeless.push_back(display_utf8(lot) + " (" + display_utf8(file.name) + ")");
    }
    tally.left_out += outcome.features.left_out;
    for (const std::string& lot : outcome.features.left_out_lots) {
        if (tally.left_out_lots.size() == FeatureBatch::kNamedShapeless) break;
        tally.left_out_lots.push_back(display_utf8(lot) + " (" + display_utf8(file.name) + ")");
    }
}

// What a file reports, and its features handed to the output.
std::string file_gis_report(const MapFile& file, FileOutcome& outcome, GisOutput& output, GisTally& tally) {
    bool usable = false;
    std::string text = file_problem(file, outcome, tally, usable);
    if (!usable) return text;
    output.names[static_cast<int>(outcome.gis_coordinates)].push_back(display_name(file.name));
    if (output.mixed() || output.failed) return {};
    if (!output.began && !output.begin(outcome.gis_coordinates)) return {};
    if (!write_feature_batch(*output.writer, outcome.features)) {
        output.failed = true;
        return {};
    }
    count_written(file, outcome, tally);
    return {};
}

// The lines after the summary: the lots without shape and the maps skipped.
void print_details(const GisTally& tally) {
    if (!tally.shapeless.empty()) {
        std::string more;
        if (tally.without_shape > tally.shapeless.size()) {
            more = format_text(" and %zu more", tally.without_shape - tally.shapeless.size());
        }
        print_error(message_text("Without shape: " + joined(tally.shapeless) + more + "\n"));
    }
    if (!tally.left_out_lots.empty()) {
        std::string more;
        if (tally.left_out > tally.left_out_lots.size()) {
            more = format_text(" and %zu more", tally.left_out - tally.left_out_lots.size());
        }
        // Built in UTF-8, lots and names alike, and put in the code page of messages once.
        print_error(message_text(
            "Left out (地区外, 別図; --include-outside writes them): " + joined(tally.left_out_lots) + more + "\n"));
    }
    if (!tally.skipped.empty()) print_error(message_text("Skipped (任意座標系): ") + joined(tally.skipped) + "\n");
}

// The error of a run that wrote no parcel at all.
std::string nothing_written_text(const GisTally& tally, const std::string& path) {
    std::string text = format_text("** Error: no parcel could be written to \"%s\": nothing was written\n",
                                   display_name(path).c_str());
    if (!tally.skipped.empty()) {
        const bool one = tally.skipped.size() == 1;
        text += message_text(format_text(
            "%zu map %s in 任意座標系 (%s): --include-arbitrary writes %s in local "
            "metres\n",
            tally.skipped.size(), one ? "file is" : "files are", joined(tally.skipped).c_str(), one ? "it" : "them"));
    }
    return text;
}

// A file cut off is said so before anything else of it, as the drawings and CSV rows say it.
std::string take_gis_outcome(const MapFile& file, FileOutcome& outcome, GisOutput& output, GisTally& tally) {
    std::string text = prefixed(display_name(file.name) + ": ", outcome.read_warning);
    return text + file_gis_report(file, outcome, output, tally);
}

// ---- --split: one output per prefecture or municipality -------------------------------------------

// Outputs written as their files come, at most this many at once; the parcels of any other partition
// wait in the run's spool on disk until the last input is read, then each of those outputs is written
// in turn. Memory holds a few writers, whatever the number of partitions.
constexpr std::size_t kOpenPartitions = 4;

constexpr std::size_t kMunicipalityCodeField = [] {
    for (std::size_t i = 0; i < kParcelFieldCount; ++i) {
        if (kParcelFields[i].name == "市区町村コード") return i;
    }
    return kParcelFieldCount;
}();
static_assert(kMunicipalityCodeField < kParcelFieldCount);

bool five_digits(std::string_view code) {
    if (code.size() != 5) return false;
    for (const char c : code) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

struct SpooledRange {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

struct Partition {
    GisCoordinates coordinates = GisCoordinates::geographic;
    std::string key;   // "13" or "13113"
    std::string path;  // the output it becomes
    std::unique_ptr<OutputSession> file;
    std::unique_ptr<FeatureWriter> writer;  // while open
    std::vector<SpooledRange> spooled;      // its files' features in the run's spool, in input order
    bool committed = false;
};

class SplitOutput {
  public:
    SplitOutput(const OutputFormat& format, const std::string& folder, GisSplit split,
                const platform::OutputRules& rules)
        : format_(format), folder_(folder), split_(split), rules_(rules) {
        while (folder_.size() > 1 && (folder_.back() == '/' || folder_.back() == platform::path_separator())) {
            folder_.pop_back();
        }
    }
    SplitOutput(const SplitOutput&) = delete;
    SplitOutput& operator=(const SplitOutput&) = delete;
    ~SplitOutput() { abandon(); }

    const std::string& error() const { return error_; }
    bool failed() const { return !error_.empty(); }
    const std::string& folder() const { return folder_; }
    std::size_t partitions() const { return partitions_.size(); }
    std::size_t committed() const { return committed_; }

    // The file's features to their partition: "" or the file's error line (the file counts as failed).
    std::string take(const MapFile& file, FileOutcome& outcome, GisTally& tally) {
        bool usable = false;
        std::string text = file_problem(file, outcome, tally, usable);
        if (!usable) return text;
        const FeatureBatch& batch = outcome.features;
        if (failed() || batch.size() == 0) {
            if (!failed()) count_written(file, outcome, tally);
            return {};
        }
        const FeatureBatch::StoredValue& v = batch.values[kMunicipalityCodeField];
        const std::string_view code =
            v.null ? std::string_view() : std::string_view(batch.texts).substr(v.offset, v.size);
        if (!five_digits(code)) {
            ++tally.failed;
            return display_name(file.name) + ": " +
                   message_text(format_text("** Error: 市区町村コード \"%s\" is not five digits, so --split has no "
                                            "output for its parcels\n",
                                            display_utf8(code).c_str()));
        }
        Partition& p = partition(outcome.gis_coordinates, split_ == GisSplit::prefecture ? code.substr(0, 2) : code);
        if (!p.writer && p.spooled.empty() && open_ < kOpenPartitions) {
            ++open_;
            if (!open(p)) return {};
        }
        // A failure is the run's, reported once at its end.
        const bool kept = p.writer ? write_feature_batch(*p.writer, batch) || writer_failed(p) : spool(batch, p);
        if (kept) count_written(file, outcome, tally);
        return {};
    }

    // Completes every partition in turn, each put in place as soon as it is whole (every input has
    // been read by now); false at the first that fails, or when interrupted, the rest then left as
    // they were.
    bool finish() {
        if (failed()) return false;
        if (spool_.stream != nullptr && std::fflush(spool_.stream) != 0) return spool_failed();
        for (Partition& p : partitions_) {
            if (platform::interrupt_requested()) return false;
            if (!p.writer && !open(p)) return false;
            if (!p.spooled.empty() && !write_spooled(p)) return false;
            if (!p.writer->finish()) return writer_failed(p);
            p.writer.reset();
            std::int64_t size = 0;
            if (!p.file->commit(size)) {
                error_ = output_error_text(WriteStatus::failed, p.path);
                return false;
            }
            p.file.reset();
            p.committed = true;
            ++committed_;
        }
        close_spool();
        return true;
    }

    // Removes what is not complete: the partitions not yet in place, the spool, the folders made
    // for them that are left empty.
    void abandon() {
        for (Partition& p : partitions_) {
            p.writer.reset();
            if (p.file) p.file->abandon();
            p.file.reset();
        }
        close_spool();
        for (auto it = made_folders_.rbegin(); it != made_folders_.rend(); ++it) platform::remove_empty_directory(*it);
        made_folders_.clear();
    }

  private:
    Partition& partition(GisCoordinates coordinates, std::string_view key) {
        const auto found = index_.find({static_cast<int>(coordinates), std::string(key)});
        if (found != index_.end()) return partitions_[found->second];
        index_.emplace(std::pair{static_cast<int>(coordinates), std::string(key)}, partitions_.size());
        Partition& p = partitions_.emplace_back();
        p.coordinates = coordinates;
        p.key = key;
        return p;
    }

    // DIR/13.fgb, or in the Hive layout DIR/prefecture=13/13113.parquet; 任意座標系 maps under
    // DIR/arbitrary, never beside longitude and latitude.
    std::vector<std::string> folders_of(const Partition& p) const {
        const std::string separator(1, platform::path_separator());
        std::vector<std::string> folders{folder_};
        if (p.coordinates == GisCoordinates::local) folders.push_back(folders.back() + separator + "arbitrary");
        if (format_.name == "parquet")
            folders.push_back(folders.back() + separator + "prefecture=" + p.key.substr(0, 2));
        return folders;
    }

    bool open(Partition& p) {
        const std::vector<std::string> folders = folders_of(p);
        for (const std::string& folder : folders) {
            if (platform::is_directory(folder)) continue;
            if (!platform::make_directory(folder)) {
                error_ = format_text("** Error: Cannot make the folder \"%s\"\n", display_name(folder).c_str());
                return false;
            }
            made_folders_.push_back(folder);
        }
        p.path = folders.back() + platform::path_separator() + p.key + std::string(format_.extensions[0]);
        p.file = std::make_unique<OutputSession>();
        const WriteStatus opened = p.file->open(p.path, rules_, false);
        if (opened != WriteStatus::ok) {
            error_ = output_error_text(opened, p.path);
            return false;
        }
        p.writer = format_.make_feature_writer(p.file->release_stream());
        GisSchema schema;
        schema.fields = kParcelFields;
        schema.coordinates = p.coordinates;
        return p.writer->begin(schema) || writer_failed(p);
    }

    bool writer_failed(const Partition& p) {
        const std::string what = p.writer ? p.writer->error() : std::string();
        error_ = what.empty() ? output_error_text(WriteStatus::failed, p.path)
                              : format_text("** Error: Cannot write output file \"%s\": %s\n",
                                            display_name(p.path).c_str(), what.c_str());
        return false;
    }

    bool spool_failed() {
        if (error_.empty()) {
            error_ = format_text(
                "** Error: Cannot write the temporary file in \"%s\" that holds parcels for later outputs (is the "
                "disk full?)\n",
                display_name(folder_).c_str());
        }
        return false;
    }

    bool spool(const FeatureBatch& batch, Partition& p) {
        if (spool_.stream == nullptr) {
            if (!platform::is_directory(folder_)) {
                if (!platform::make_directory(folder_)) return spool_failed();
                made_folders_.push_back(folder_);
            }
            if (!platform::begin_output_file(folder_ + platform::path_separator() + "parcels.spool", spool_)) {
                return spool_failed();
            }
        }
        bytes_.clear();
        append_feature_batch_bytes(bytes_, batch);
        if (std::fwrite(bytes_.data(), 1, bytes_.size(), spool_.stream) != bytes_.size()) return spool_failed();
        p.spooled.push_back({spool_size_, bytes_.size()});
        spool_size_ += bytes_.size();
        return true;
    }

    bool write_spooled(Partition& p) {
        if (spool_reader_ == nullptr) spool_reader_ = std::fopen(spool_.temp_path.c_str(), "rb");
        if (spool_reader_ == nullptr) return spool_failed();
        FeatureBatch batch;
        for (const SpooledRange& r : p.spooled) {
            bytes_.resize(static_cast<std::size_t>(r.size));
            if (!platform::seek_file(spool_reader_, static_cast<std::int64_t>(r.offset)) ||
                std::fread(bytes_.data(), 1, bytes_.size(), spool_reader_) != bytes_.size() ||
                !read_feature_batch_bytes(bytes_, batch)) {
                return spool_failed();
            }
            if (!write_feature_batch(*p.writer, batch)) return writer_failed(p);
        }
        p.spooled = {};
        return true;
    }

    void close_spool() {
        if (spool_reader_ != nullptr) std::fclose(spool_reader_);
        spool_reader_ = nullptr;
        platform::abandon_output_file(spool_);
    }

    const OutputFormat& format_;
    std::string folder_;
    GisSplit split_;
    const platform::OutputRules& rules_;
    std::vector<Partition> partitions_;  // in order of first appearance
    std::map<std::pair<int, std::string>, std::size_t> index_;
    std::size_t open_ = 0;
    std::size_t committed_ = 0;
    platform::OutputFile spool_;
    std::FILE* spool_reader_ = nullptr;
    std::uint64_t spool_size_ = 0;
    std::string bytes_;
    std::vector<std::string> made_folders_;
    std::string error_;
};

// What each map file of a GIS run is asked for.
ConvertRequest gis_request(const BatchOptions& options) {
    ConvertRequest request;
    request.mode = ConvertMode::gis;
    request.include_arbitrary = options.include_arbitrary;
    request.include_outside = options.include_outside;
    return request;
}

int run_gis_split(const BatchOptions& options, const ConvertContext& context, const std::vector<MapFile>& files,
                  std::size_t failed, double start) {
    const OutputFormat* const format = format_named(options.gis_format, FormatKind::features);
    if (format == nullptr) return 1;  // the command line allows none other
    SplitOutput output(*format, options.gis_path, options.split, context.output_rules);
    GisTally tally;
    tally.failed = failed;
    const ConvertRequest request = gis_request(options);
    const auto work = [&](std::size_t i, MapFileReader& reader) {
        return convert_map_file(files[i], context, request, reader);
    };
    const auto take = [&](std::size_t i, FileOutcome& outcome) {
        std::string text = prefixed(display_name(files[i].name) + ": ", outcome.read_warning);
        return text + output.take(files[i], outcome, tally);
    };
    const std::size_t reported = convert_with_progress(files, options.jobs, start, work, take);
    const std::string shown = display_name(output.folder());
    const bool every_input = !platform::interrupt_requested() && tally.failed == 0;
    if (every_input && tally.parcels == 0 && !output.failed()) {
        output.abandon();
        print_error(nothing_written_text(tally, output.folder()));
        return 1;
    }
    const bool written = every_input && output.finish();
    const double elapsed = platform::monotonic_seconds() - start;
    if (!written) output.abandon();
    if (platform::interrupt_requested()) {
        print_error(
            format_text("Interrupted: %zu of %zu files put in \"%s\" (%zu parcels of %zu map files read), "
                        "failed %zu, %zu files not done, in %.1f s\n",
                        output.committed(), output.partitions(), shown.c_str(), tally.parcels, tally.files,
                        tally.failed, files.size() - reported, elapsed));
        platform::end_as_interrupted();
    }
    if (output.failed()) {
        print_error(output.error());
        if (output.committed() > 0) {
            print_error(format_text("%zu of %zu files were put in \"%s\" before that; the others stay as they were\n",
                                    output.committed(), output.partitions(), shown.c_str()));
        }
        return 1;
    }
    if (!written) {
        print_error(
            format_text("Nothing written: failed %zu, so the files in \"%s\" stay as they were (%zu parcels "
                        "of %zu map files read) in %.1f s\n",
                        tally.failed, shown.c_str(), tally.parcels, tally.files, elapsed));
        return 1;
    }
    print_error(format_text(message_text("Wrote %zu parcels (%zu without shape) of %zu map files into %zu files in "
                                         "\"%s\", skipped %zu (任意座標系), failed %zu in %.1f s\n")
                                .c_str(),
                            tally.parcels, tally.without_shape, tally.files, output.partitions(), shown.c_str(),
                            tally.skipped.size(), tally.failed, elapsed));
    print_details(tally);
    return 0;
}

}  // namespace

int run_gis_export(const BatchOptions& options, const ConvertContext& context, const std::vector<MapFile>& files,
                   std::size_t failed, double start) {
    if (options.split != GisSplit::none) return run_gis_split(options, context, files, failed, start);
    const std::string& path = options.gis_path;
    const OutputFormat* const format = path == "-" ? &geojson_format() : format_for_path(path, FormatKind::features);
    if (format == nullptr) {
        print_error(format_text("** Error: Unsupported output file type \"%s\" (%s)\n", display_name(path).c_str(),
                                format_extensions(FormatKind::features).c_str()));
        return 1;
    }
    OutputSession file;
    const WriteStatus opened = file.open(path, context.output_rules, true);
    if (opened != WriteStatus::ok) {
        print_error(output_error_text(opened, path));
        return 1;
    }
    GisOutput output;
    output.writer = format->make_feature_writer(file.release_stream());
    GisTally tally;
    tally.failed = failed;

    const ConvertRequest request = gis_request(options);
    const auto work = [&](std::size_t i, MapFileReader& reader) {
        return convert_map_file(files[i], context, request, reader);
    };
    const auto take = [&](std::size_t i, FileOutcome& outcome) {
        return take_gis_outcome(files[i], outcome, output, tally);
    };
    const std::size_t reported = convert_with_progress(files, options.jobs, start, work, take);
    const double elapsed = platform::monotonic_seconds() - start;
    if (platform::interrupt_requested()) {
        output.writer.reset();
        file.abandon();
        // What went to standard output stays there; a file is not written at all.
        const std::string done =
            file.to_standard_output()
                ? format_text("wrote %zu parcels of %zu map files", tally.parcels, tally.files)
                : format_text("nothing written (%zu parcels of %zu map files read)", tally.parcels, tally.files);
        print_error(format_text("Interrupted: %s, failed %zu, %zu files not done, in %.1f s\n", done.c_str(),
                                tally.failed, files.size() - reported, elapsed));
        platform::end_as_interrupted();
    }
    // An output without a single feature looks written and holds nothing: none is made.
    if (!output.mixed() && tally.parcels == 0 && tally.failed == 0) {
        output.writer.reset();
        file.abandon();
        print_error(nothing_written_text(tally, path));
        return 1;
    }
    bool written = !output.mixed();
    if (written && !output.began) written = output.begin(GisCoordinates::geographic);
    written = written && !output.failed && output.writer->finish();
    const std::string writer_error = output.writer->error();
    output.writer.reset();  // closes what it holds before the file is moved
    // One output of every map file: a run that failed on any of them keeps the previous output.
    const bool complete = tally.failed == 0;
    std::int64_t size = 0;
    if (written && complete) {
        written = file.commit(size);
    } else {
        file.abandon();
    }
    if (output.mixed()) {
        print_error(format_text(
            message_text(
                "** Error: Maps in 任意座標系 (local metres) and maps in 公共座標 systems (longitude and latitude) "
                "cannot share one output: %s; %s\n")
                .c_str(),
            joined(output.names[static_cast<int>(GisCoordinates::local)]).c_str(),
            joined(output.names[static_cast<int>(GisCoordinates::geographic)]).c_str()));
        return 1;
    }
    if (!written) {
        const std::string shown = display_name(path);
        if (writer_error.empty()) {
            print_error(output_error_text(WriteStatus::failed, path));
            return 1;
        }
        print_error(
            format_text("** Error: Cannot write output file \"%s\": %s\n", shown.c_str(), writer_error.c_str()));
        return 1;
    }
    if (!complete && !file.to_standard_output()) {
        print_error(
            format_text("Nothing written: failed %zu, so \"%s\" stays as it was (%zu parcels of %zu map files "
                        "read) in %.1f s\n",
                        tally.failed, display_name(path).c_str(), tally.parcels, tally.files, elapsed));
        return 1;
    }
    const std::string left_out = tally.left_out == 0
                                     ? std::string()
                                     : message_text(format_text(", left out %zu (地区外, 別図)", tally.left_out));
    print_error(format_text(message_text("Wrote %zu parcels (%zu without shape) of %zu map files%s, skipped %zu "
                                         "(任意座標系), failed %zu in %.1f s\n")
                                .c_str(),
                            tally.parcels, tally.without_shape, tally.files, left_out.c_str(), tally.skipped.size(),
                            tally.failed, elapsed));
    print_details(tally);
    return tally.failed == 0 ? 0 : 1;
}

}  // namespace chizuvec
