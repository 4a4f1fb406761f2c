#include "audio/encoders/FLAC.h"

#include "audio/encoders/CodecLibrary.h"

namespace {

TCodecLibrary Library("libFLAC.dll");
TFLACEntries Entries;

void ResolveEntries() {
  Library.Resolve(Entries.FLAC__stream_decoder_new, "FLAC__stream_decoder_new");
  Library.Resolve(Entries.FLAC__stream_decoder_delete, "FLAC__stream_decoder_delete");
  Library.Resolve(Entries.FLAC__stream_decoder_set_ogg_serial_number,
                  "FLAC__stream_decoder_set_ogg_serial_number");
  Library.Resolve(Entries.FLAC__stream_decoder_set_md5_checking,
                  "FLAC__stream_decoder_set_md5_checking");
  Library.Resolve(Entries.FLAC__stream_decoder_set_metadata_respond,
                  "FLAC__stream_decoder_set_metadata_respond");
  Library.Resolve(Entries.FLAC__stream_decoder_set_metadata_respond_application,
                  "FLAC__stream_decoder_set_metadata_respond_application");
  Library.Resolve(Entries.FLAC__stream_decoder_set_metadata_respond_all,
                  "FLAC__stream_decoder_set_metadata_respond_all");
  Library.Resolve(Entries.FLAC__stream_decoder_set_metadata_ignore,
                  "FLAC__stream_decoder_set_metadata_ignore");
  Library.Resolve(Entries.FLAC__stream_decoder_set_metadata_ignore_application,
                  "FLAC__stream_decoder_set_metadata_ignore_application");
  Library.Resolve(Entries.FLAC__stream_decoder_set_metadata_ignore_all,
                  "FLAC__stream_decoder_set_metadata_ignore_all");
  Library.Resolve(Entries.FLAC__stream_decoder_get_state, "FLAC__stream_decoder_get_state");
  Library.Resolve(Entries.FLAC__stream_decoder_get_md5_checking,
                  "FLAC__stream_decoder_get_md5_checking");
  Library.Resolve(Entries.FLAC__stream_decoder_get_total_samples,
                  "FLAC__stream_decoder_get_total_samples");
  Library.Resolve(Entries.FLAC__stream_decoder_get_channels, "FLAC__stream_decoder_get_channels");
  Library.Resolve(Entries.FLAC__stream_decoder_get_channel_assignment,
                  "FLAC__stream_decoder_get_channel_assignment");
  Library.Resolve(Entries.FLAC__stream_decoder_get_bits_per_sample,
                  "FLAC__stream_decoder_get_bits_per_sample");
  Library.Resolve(Entries.FLAC__stream_decoder_get_sample_rate,
                  "FLAC__stream_decoder_get_sample_rate");
  Library.Resolve(Entries.FLAC__stream_decoder_get_blocksize, "FLAC__stream_decoder_get_blocksize");
  Library.Resolve(Entries.FLAC__stream_decoder_get_decode_position,
                  "FLAC__stream_decoder_get_decode_position");
  Library.Resolve(Entries.FLAC__stream_decoder_init_stream, "FLAC__stream_decoder_init_stream");
  Library.Resolve(Entries.FLAC__stream_decoder_init_ogg_stream,
                  "FLAC__stream_decoder_init_ogg_stream");
  Library.Resolve(Entries.FLAC__stream_decoder_init_file, "FLAC__stream_decoder_init_file");
  Library.Resolve(Entries.FLAC__stream_decoder_init_ogg_file, "FLAC__stream_decoder_init_ogg_file");
  Library.Resolve(Entries.FLAC__stream_decoder_finish, "FLAC__stream_decoder_finish");
  Library.Resolve(Entries.FLAC__stream_decoder_flush, "FLAC__stream_decoder_flush");
  Library.Resolve(Entries.FLAC__stream_decoder_reset, "FLAC__stream_decoder_reset");
  Library.Resolve(Entries.FLAC__stream_decoder_process_single,
                  "FLAC__stream_decoder_process_single");
  Library.Resolve(Entries.FLAC__stream_decoder_process_until_end_of_metadata,
                  "FLAC__stream_decoder_process_until_end_of_metadata");
  Library.Resolve(Entries.FLAC__stream_decoder_process_until_end_of_stream,
                  "FLAC__stream_decoder_process_until_end_of_stream");
  Library.Resolve(Entries.FLAC__stream_decoder_skip_single_frame,
                  "FLAC__stream_decoder_skip_single_frame");
  Library.Resolve(Entries.FLAC__stream_decoder_seek_absolute, "FLAC__stream_decoder_seek_absolute");
  Library.Resolve(Entries.FLAC__stream_encoder_new, "FLAC__stream_encoder_new");
  Library.Resolve(Entries.FLAC__stream_encoder_delete, "FLAC__stream_encoder_delete");
  Library.Resolve(Entries.FLAC__stream_encoder_set_ogg_serial_number,
                  "FLAC__stream_encoder_set_ogg_serial_number");
  Library.Resolve(Entries.FLAC__stream_encoder_set_verify, "FLAC__stream_encoder_set_verify");
  Library.Resolve(Entries.FLAC__stream_encoder_set_streamable_subset,
                  "FLAC__stream_encoder_set_streamable_subset");
  Library.Resolve(Entries.FLAC__stream_encoder_set_channels, "FLAC__stream_encoder_set_channels");
  Library.Resolve(Entries.FLAC__stream_encoder_set_bits_per_sample,
                  "FLAC__stream_encoder_set_bits_per_sample");
  Library.Resolve(Entries.FLAC__stream_encoder_set_sample_rate,
                  "FLAC__stream_encoder_set_sample_rate");
  Library.Resolve(Entries.FLAC__stream_encoder_set_compression_level,
                  "FLAC__stream_encoder_set_compression_level");
  Library.Resolve(Entries.FLAC__stream_encoder_set_blocksize, "FLAC__stream_encoder_set_blocksize");
  Library.Resolve(Entries.FLAC__stream_encoder_set_do_mid_side_stereo,
                  "FLAC__stream_encoder_set_do_mid_side_stereo");
  Library.Resolve(Entries.FLAC__stream_encoder_set_loose_mid_side_stereo,
                  "FLAC__stream_encoder_set_loose_mid_side_stereo");
  Library.Resolve(Entries.FLAC__stream_encoder_set_apodization,
                  "FLAC__stream_encoder_set_apodization");
  Library.Resolve(Entries.FLAC__stream_encoder_set_max_lpc_order,
                  "FLAC__stream_encoder_set_max_lpc_order");
  Library.Resolve(Entries.FLAC__stream_encoder_set_qlp_coeff_precision,
                  "FLAC__stream_encoder_set_qlp_coeff_precision");
  Library.Resolve(Entries.FLAC__stream_encoder_set_do_qlp_coeff_prec_search,
                  "FLAC__stream_encoder_set_do_qlp_coeff_prec_search");
  Library.Resolve(Entries.FLAC__stream_encoder_set_do_escape_coding,
                  "FLAC__stream_encoder_set_do_escape_coding");
  Library.Resolve(Entries.FLAC__stream_encoder_set_do_exhaustive_model_search,
                  "FLAC__stream_encoder_set_do_exhaustive_model_search");
  Library.Resolve(Entries.FLAC__stream_encoder_set_min_residual_partition_order,
                  "FLAC__stream_encoder_set_min_residual_partition_order");
  Library.Resolve(Entries.FLAC__stream_encoder_set_max_residual_partition_order,
                  "FLAC__stream_encoder_set_max_residual_partition_order");
  Library.Resolve(Entries.FLAC__stream_encoder_set_total_samples_estimate,
                  "FLAC__stream_encoder_set_total_samples_estimate");
  Library.Resolve(Entries.FLAC__stream_encoder_get_state, "FLAC__stream_encoder_get_state");
  Library.Resolve(Entries.FLAC__stream_encoder_get_verify_decoder_state,
                  "FLAC__stream_encoder_get_verify_decoder_state");
  Library.Resolve(Entries.FLAC__stream_encoder_get_verify_decoder_error_stats,
                  "FLAC__stream_encoder_get_verify_decoder_error_stats");
  Library.Resolve(Entries.FLAC__stream_encoder_get_verify, "FLAC__stream_encoder_get_verify");
  Library.Resolve(Entries.FLAC__stream_encoder_get_streamable_subset,
                  "FLAC__stream_encoder_get_streamable_subset");
  Library.Resolve(Entries.FLAC__stream_encoder_get_channels, "FLAC__stream_encoder_get_channels");
  Library.Resolve(Entries.FLAC__stream_encoder_get_bits_per_sample,
                  "FLAC__stream_encoder_get_bits_per_sample");
  Library.Resolve(Entries.FLAC__stream_encoder_get_sample_rate,
                  "FLAC__stream_encoder_get_sample_rate");
  Library.Resolve(Entries.FLAC__stream_encoder_get_blocksize, "FLAC__stream_encoder_get_blocksize");
  Library.Resolve(Entries.FLAC__stream_encoder_get_do_mid_side_stereo,
                  "FLAC__stream_encoder_get_do_mid_side_stereo");
  Library.Resolve(Entries.FLAC__stream_encoder_get_loose_mid_side_stereo,
                  "FLAC__stream_encoder_get_loose_mid_side_stereo");
  Library.Resolve(Entries.FLAC__stream_encoder_get_qlp_coeff_precision,
                  "FLAC__stream_encoder_get_qlp_coeff_precision");
  Library.Resolve(Entries.FLAC__stream_encoder_get_do_qlp_coeff_prec_search,
                  "FLAC__stream_encoder_get_do_qlp_coeff_prec_search");
  Library.Resolve(Entries.FLAC__stream_encoder_get_do_escape_coding,
                  "FLAC__stream_encoder_get_do_escape_coding");
  Library.Resolve(Entries.FLAC__stream_encoder_get_do_exhaustive_model_search,
                  "FLAC__stream_encoder_get_do_exhaustive_model_search");
  Library.Resolve(Entries.FLAC__stream_encoder_get_min_residual_partition_order,
                  "FLAC__stream_encoder_get_min_residual_partition_order");
  Library.Resolve(Entries.FLAC__stream_encoder_get_max_residual_partition_order,
                  "FLAC__stream_encoder_get_max_residual_partition_order");
  Library.Resolve(Entries.FLAC__stream_encoder_get_rice_parameter_search_dist,
                  "FLAC__stream_encoder_get_rice_parameter_search_dist");
  Library.Resolve(Entries.FLAC__stream_encoder_get_total_samples_estimate,
                  "FLAC__stream_encoder_get_total_samples_estimate");
  Library.Resolve(Entries.FLAC__stream_encoder_init_stream, "FLAC__stream_encoder_init_stream");
  Library.Resolve(Entries.FLAC__stream_encoder_init_ogg_stream,
                  "FLAC__stream_encoder_init_ogg_stream");
  Library.Resolve(Entries.FLAC__stream_encoder_init_file, "FLAC__stream_encoder_init_file");
  Library.Resolve(Entries.FLAC__stream_encoder_init_ogg_file, "FLAC__stream_encoder_init_ogg_file");
  Library.Resolve(Entries.FLAC__stream_encoder_finish, "FLAC__stream_encoder_finish");
  Library.Resolve(Entries.FLAC__stream_encoder_process, "FLAC__stream_encoder_process");
  Library.Resolve(Entries.FLAC__stream_encoder_process_interleaved,
                  "FLAC__stream_encoder_process_interleaved");
  Library.Resolve(Entries.FLAC__metadata_simple_iterator_new, "FLAC__metadata_simple_iterator_new");
  Library.Resolve(Entries.FLAC__metadata_simple_iterator_delete,
                  "FLAC__metadata_simple_iterator_delete");
  Library.Resolve(Entries.FLAC__Metadata_simple_iterator_status,
                  "FLAC__Metadata_simple_iterator_status");
  Library.Resolve(Entries.FLAC__metadata_simple_iterator_init,
                  "FLAC__metadata_simple_iterator_init");
  Library.Resolve(Entries.FLAC__metadata_simple_iterator_is_writable,
                  "FLAC__metadata_simple_iterator_is_writable");
  Library.Resolve(Entries.FLAC__metadata_simple_iterator_next,
                  "FLAC__metadata_simple_iterator_next");
  Library.Resolve(Entries.FLAC__metadata_simple_iterator_prev,
                  "FLAC__metadata_simple_iterator_prev");
  Library.Resolve(Entries.FLAC__metadata_simple_iterator_get_block_type,
                  "FLAC__metadata_simple_iterator_get_block_type");
  Library.Resolve(Entries.FLAC__metadata_simple_iterator_get_block,
                  "FLAC__metadata_simple_iterator_get_block");
  Library.Resolve(Entries.FLAC__metadata_simple_iterator_set_block,
                  "FLAC__metadata_simple_iterator_set_block");
  Library.Resolve(Entries.FLAC__metadata_simple_iterator_insert_block_after,
                  "FLAC__metadata_simple_iterator_insert_block_after");
}

} // namespace

const TFLACEntries& FLAC() {
  return Entries;
}

bool FLACLoaded() {
  return Library.Loaded();
}

void LoadFLACLibrary() {
  Library.Load(ResolveEntries);
}

void RequireFLACLibrary() {
  Library.RequireLoaded();
}
