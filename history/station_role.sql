-- zem_station: the role test stations record runs as. It reads everything
-- and adds runs; it changes nothing already stored, except that it adds to
-- the counts of point_days, which every run updates, and never takes from
-- them.
--
-- Run it as zem_admin (the owner of the database and its tables), once the
-- history has been opened by zem-tools as zem_admin (that creates the
-- tables), e.g.
--   psql -h dbhost -U zem_admin -d zem_history -f /usr/share/zem-tools/sql/station_role.sql
-- Running it again changes nothing.

-- Nobody else may create in the schema or make temporary tables; each
-- role is granted below what it needs.
REVOKE ALL ON SCHEMA public FROM PUBLIC;
DO $$
BEGIN
    EXECUTE format('REVOKE TEMPORARY ON DATABASE %I FROM PUBLIC', current_database());
END
$$;

GRANT USAGE ON SCHEMA public TO zem_station;
GRANT SELECT ON ALL TABLES IN SCHEMA public TO zem_station;
GRANT INSERT ON runs, points, point_days, reference_curves TO zem_station;
GRANT UPDATE (seen, tested, failed, position_sum) ON point_days TO zem_station;
ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT SELECT ON TABLES TO zem_station;

-- The column grant lets a station write any count; this lets it only add.
-- The tables' owner may still take a run back.
CREATE OR REPLACE FUNCTION zem_point_days_only_grow() RETURNS trigger
LANGUAGE plpgsql AS $$
BEGIN
    IF (NEW.seen < OLD.seen OR NEW.tested < OLD.tested OR NEW.failed < OLD.failed
            OR NEW.position_sum < OLD.position_sum)
        AND NOT pg_has_role(current_user,
            (SELECT tableowner FROM pg_tables
             WHERE schemaname = 'public' AND tablename = 'point_days'), 'MEMBER') THEN
        RAISE EXCEPTION 'permission denied: a station only adds to the counts of point_days'
            USING ERRCODE = 'insufficient_privilege';
    END IF;
    RETURN NEW;
END
$$;
REVOKE ALL ON FUNCTION zem_point_days_only_grow() FROM PUBLIC;
DROP TRIGGER IF EXISTS point_days_only_grow ON point_days;
CREATE TRIGGER point_days_only_grow BEFORE UPDATE ON point_days
    FOR EACH ROW EXECUTE FUNCTION zem_point_days_only_grow();
