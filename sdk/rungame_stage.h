/* The staging of an update folder whose writer checked it already: the
 * download's, which wrote every file itself, hashed each against the
 * signed manifest as it wrote it and flushed it. */
#ifndef RUNGAME_STAGE_H
#define RUNGAME_STAGE_H

#ifdef __cplusplus
extern "C" {
#endif

/* RunGameStageUpdate without the manifest read back from disk and every
 * file hashed again: the folder's own checks (a folder, no link, staged
 * paths within the limit) and the data folder's version against
 * `fromX`.`fromY` hold as there, and the marker still comes last. Returns
 * a RunGameStageResult. */
int rungame_stage_written_update(const char* updateFolder, const char* dataFolder, const char* markerName,
                                 long fromX, long fromY);

#ifdef __cplusplus
}
#endif

#endif /* RUNGAME_STAGE_H */
