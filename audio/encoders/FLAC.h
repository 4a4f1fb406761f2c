#pragma once

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

// The entry points of the FLAC library (libFLAC.dll), resolved by name in this order when it is
// loaded; a name the library lacks stays null.
struct TFLACEntries {
  decltype(&::FLAC__stream_decoder_new) FLAC__stream_decoder_new = nullptr;
  decltype(&::FLAC__stream_decoder_delete) FLAC__stream_decoder_delete = nullptr;
  decltype(&::FLAC__stream_decoder_set_ogg_serial_number)
      FLAC__stream_decoder_set_ogg_serial_number = nullptr;
  decltype(&::FLAC__stream_decoder_set_md5_checking) FLAC__stream_decoder_set_md5_checking =
      nullptr;
  decltype(&::FLAC__stream_decoder_set_metadata_respond) FLAC__stream_decoder_set_metadata_respond =
      nullptr;
  decltype(&::FLAC__stream_decoder_set_metadata_respond_application)
      FLAC__stream_decoder_set_metadata_respond_application = nullptr;
  decltype(&::FLAC__stream_decoder_set_metadata_respond_all)
      FLAC__stream_decoder_set_metadata_respond_all = nullptr;
  decltype(&::FLAC__stream_decoder_set_metadata_ignore) FLAC__stream_decoder_set_metadata_ignore =
      nullptr;
  decltype(&::FLAC__stream_decoder_set_metadata_ignore_application)
      FLAC__stream_decoder_set_metadata_ignore_application = nullptr;
  decltype(&::FLAC__stream_decoder_set_metadata_ignore_all)
      FLAC__stream_decoder_set_metadata_ignore_all = nullptr;
  decltype(&::FLAC__stream_decoder_get_state) FLAC__stream_decoder_get_state = nullptr;
  decltype(&::FLAC__stream_decoder_get_md5_checking) FLAC__stream_decoder_get_md5_checking =
      nullptr;
  decltype(&::FLAC__stream_decoder_get_total_samples) FLAC__stream_decoder_get_total_samples =
      nullptr;
  decltype(&::FLAC__stream_decoder_get_channels) FLAC__stream_decoder_get_channels = nullptr;
  decltype(&::FLAC__stream_decoder_get_channel_assignment)
      FLAC__stream_decoder_get_channel_assignment = nullptr;
  decltype(&::FLAC__stream_decoder_get_bits_per_sample) FLAC__stream_decoder_get_bits_per_sample =
      nullptr;
  decltype(&::FLAC__stream_decoder_get_sample_rate) FLAC__stream_decoder_get_sample_rate = nullptr;
  decltype(&::FLAC__stream_decoder_get_blocksize) FLAC__stream_decoder_get_blocksize = nullptr;
  decltype(&::FLAC__stream_decoder_get_decode_position) FLAC__stream_decoder_get_decode_position =
      nullptr;
  decltype(&::FLAC__stream_decoder_init_stream) FLAC__stream_decoder_init_stream = nullptr;
  decltype(&::FLAC__stream_decoder_init_ogg_stream) FLAC__stream_decoder_init_ogg_stream = nullptr;
  decltype(&::FLAC__stream_decoder_init_file) FLAC__stream_decoder_init_file = nullptr;
  decltype(&::FLAC__stream_decoder_init_ogg_file) FLAC__stream_decoder_init_ogg_file = nullptr;
  decltype(&::FLAC__stream_decoder_finish) FLAC__stream_decoder_finish = nullptr;
  decltype(&::FLAC__stream_decoder_flush) FLAC__stream_decoder_flush = nullptr;
  decltype(&::FLAC__stream_decoder_reset) FLAC__stream_decoder_reset = nullptr;
  decltype(&::FLAC__stream_decoder_process_single) FLAC__stream_decoder_process_single = nullptr;
  decltype(&::FLAC__stream_decoder_process_until_end_of_metadata)
      FLAC__stream_decoder_process_until_end_of_metadata = nullptr;
  decltype(&::FLAC__stream_decoder_process_until_end_of_stream)
      FLAC__stream_decoder_process_until_end_of_stream = nullptr;
  decltype(&::FLAC__stream_decoder_skip_single_frame) FLAC__stream_decoder_skip_single_frame =
      nullptr;
  decltype(&::FLAC__stream_decoder_seek_absolute) FLAC__stream_decoder_seek_absolute = nullptr;
  decltype(&::FLAC__stream_encoder_new) FLAC__stream_encoder_new = nullptr;
  decltype(&::FLAC__stream_encoder_delete) FLAC__stream_encoder_delete = nullptr;
  decltype(&::FLAC__stream_encoder_set_ogg_serial_number)
      FLAC__stream_encoder_set_ogg_serial_number = nullptr;
  decltype(&::FLAC__stream_encoder_set_verify) FLAC__stream_encoder_set_verify = nullptr;
  decltype(&::FLAC__stream_encoder_set_streamable_subset)
      FLAC__stream_encoder_set_streamable_subset = nullptr;
  decltype(&::FLAC__stream_encoder_set_channels) FLAC__stream_encoder_set_channels = nullptr;
  decltype(&::FLAC__stream_encoder_set_bits_per_sample) FLAC__stream_encoder_set_bits_per_sample =
      nullptr;
  decltype(&::FLAC__stream_encoder_set_sample_rate) FLAC__stream_encoder_set_sample_rate = nullptr;
  decltype(&::FLAC__stream_encoder_set_compression_level)
      FLAC__stream_encoder_set_compression_level = nullptr;
  decltype(&::FLAC__stream_encoder_set_blocksize) FLAC__stream_encoder_set_blocksize = nullptr;
  decltype(&::FLAC__stream_encoder_set_do_mid_side_stereo)
      FLAC__stream_encoder_set_do_mid_side_stereo = nullptr;
  decltype(&::FLAC__stream_encoder_set_loose_mid_side_stereo)
      FLAC__stream_encoder_set_loose_mid_side_stereo = nullptr;
  decltype(&::FLAC__stream_encoder_set_apodization) FLAC__stream_encoder_set_apodization = nullptr;
  decltype(&::FLAC__stream_encoder_set_max_lpc_order) FLAC__stream_encoder_set_max_lpc_order =
      nullptr;
  decltype(&::FLAC__stream_encoder_set_qlp_coeff_precision)
      FLAC__stream_encoder_set_qlp_coeff_precision = nullptr;
  decltype(&::FLAC__stream_encoder_set_do_qlp_coeff_prec_search)
      FLAC__stream_encoder_set_do_qlp_coeff_prec_search = nullptr;
  decltype(&::FLAC__stream_encoder_set_do_escape_coding) FLAC__stream_encoder_set_do_escape_coding =
      nullptr;
  decltype(&::FLAC__stream_encoder_set_do_exhaustive_model_search)
      FLAC__stream_encoder_set_do_exhaustive_model_search = nullptr;
  decltype(&::FLAC__stream_encoder_set_min_residual_partition_order)
      FLAC__stream_encoder_set_min_residual_partition_order = nullptr;
  decltype(&::FLAC__stream_encoder_set_max_residual_partition_order)
      FLAC__stream_encoder_set_max_residual_partition_order = nullptr;
  decltype(&::FLAC__stream_encoder_set_total_samples_estimate)
      FLAC__stream_encoder_set_total_samples_estimate = nullptr;
  decltype(&::FLAC__stream_encoder_get_state) FLAC__stream_encoder_get_state = nullptr;
  decltype(&::FLAC__stream_encoder_get_verify_decoder_state)
      FLAC__stream_encoder_get_verify_decoder_state = nullptr;
  decltype(&::FLAC__stream_encoder_get_verify_decoder_error_stats)
      FLAC__stream_encoder_get_verify_decoder_error_stats = nullptr;
  decltype(&::FLAC__stream_encoder_get_verify) FLAC__stream_encoder_get_verify = nullptr;
  decltype(&::FLAC__stream_encoder_get_streamable_subset)
      FLAC__stream_encoder_get_streamable_subset = nullptr;
  decltype(&::FLAC__stream_encoder_get_channels) FLAC__stream_encoder_get_channels = nullptr;
  decltype(&::FLAC__stream_encoder_get_bits_per_sample) FLAC__stream_encoder_get_bits_per_sample =
      nullptr;
  decltype(&::FLAC__stream_encoder_get_sample_rate) FLAC__stream_encoder_get_sample_rate = nullptr;
  decltype(&::FLAC__stream_encoder_get_blocksize) FLAC__stream_encoder_get_blocksize = nullptr;
  decltype(&::FLAC__stream_encoder_get_do_mid_side_stereo)
      FLAC__stream_encoder_get_do_mid_side_stereo = nullptr;
  decltype(&::FLAC__stream_encoder_get_loose_mid_side_stereo)
      FLAC__stream_encoder_get_loose_mid_side_stereo = nullptr;
  decltype(&::FLAC__stream_encoder_get_qlp_coeff_precision)
      FLAC__stream_encoder_get_qlp_coeff_precision = nullptr;
  decltype(&::FLAC__stream_encoder_get_do_qlp_coeff_prec_search)
      FLAC__stream_encoder_get_do_qlp_coeff_prec_search = nullptr;
  decltype(&::FLAC__stream_encoder_get_do_escape_coding) FLAC__stream_encoder_get_do_escape_coding =
      nullptr;
  decltype(&::FLAC__stream_encoder_get_do_exhaustive_model_search)
      FLAC__stream_encoder_get_do_exhaustive_model_search = nullptr;
  decltype(&::FLAC__stream_encoder_get_min_residual_partition_order)
      FLAC__stream_encoder_get_min_residual_partition_order = nullptr;
  decltype(&::FLAC__stream_encoder_get_max_residual_partition_order)
      FLAC__stream_encoder_get_max_residual_partition_order = nullptr;
  decltype(&::FLAC__stream_encoder_get_rice_parameter_search_dist)
      FLAC__stream_encoder_get_rice_parameter_search_dist = nullptr;
  decltype(&::FLAC__stream_encoder_get_total_samples_estimate)
      FLAC__stream_encoder_get_total_samples_estimate = nullptr;
  decltype(&::FLAC__stream_encoder_init_stream) FLAC__stream_encoder_init_stream = nullptr;
  decltype(&::FLAC__stream_encoder_init_ogg_stream) FLAC__stream_encoder_init_ogg_stream = nullptr;
  decltype(&::FLAC__stream_encoder_init_file) FLAC__stream_encoder_init_file = nullptr;
  decltype(&::FLAC__stream_encoder_init_ogg_file) FLAC__stream_encoder_init_ogg_file = nullptr;
  decltype(&::FLAC__stream_encoder_finish) FLAC__stream_encoder_finish = nullptr;
  decltype(&::FLAC__stream_encoder_process) FLAC__stream_encoder_process = nullptr;
  decltype(&::FLAC__stream_encoder_process_interleaved) FLAC__stream_encoder_process_interleaved =
      nullptr;
  decltype(&::FLAC__metadata_simple_iterator_new) FLAC__metadata_simple_iterator_new = nullptr;
  decltype(&::FLAC__metadata_simple_iterator_delete) FLAC__metadata_simple_iterator_delete =
      nullptr;
  decltype(&::FLAC__metadata_simple_iterator_init) FLAC__metadata_simple_iterator_init = nullptr;
  decltype(&::FLAC__metadata_simple_iterator_is_writable)
      FLAC__metadata_simple_iterator_is_writable = nullptr;
  decltype(&::FLAC__metadata_simple_iterator_next) FLAC__metadata_simple_iterator_next = nullptr;
  decltype(&::FLAC__metadata_simple_iterator_prev) FLAC__metadata_simple_iterator_prev = nullptr;
  decltype(&::FLAC__metadata_simple_iterator_get_block_type)
      FLAC__metadata_simple_iterator_get_block_type = nullptr;
  decltype(&::FLAC__metadata_simple_iterator_get_block) FLAC__metadata_simple_iterator_get_block =
      nullptr;
  decltype(&::FLAC__metadata_simple_iterator_set_block) FLAC__metadata_simple_iterator_set_block =
      nullptr;
  decltype(&::FLAC__metadata_simple_iterator_insert_block_after)
      FLAC__metadata_simple_iterator_insert_block_after = nullptr;
  // Looked up with the others; the header declares no such names, so they have no type here.
  void* FLAC__Metadata_simple_iterator_status = nullptr;
};

// The process's entry points; all null until the library has been loaded.
const TFLACEntries& FLAC();
bool FLACLoaded();
// Loads the library under CodecLoadLock unless it is loaded; a failed load is retried at the
// next call. The library stays loaded until the process ends.
void LoadFLACLibrary();
// Raises EAuException "libFLAC.dll library could not be loaded." unless it is loaded.
void RequireFLACLibrary();
